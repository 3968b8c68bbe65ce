#pragma once

#include "cli/delivery.h"

namespace pellicar {

// The dry run: every sequence on a line of its own on standard output,
//   NAME<TAB>1F 73 02 ...
// its document name, a tab, its bytes in upper-case hexadecimal separated
// by single blanks. A stream is one such line, written piece by piece as
// it is made, so that a long one is never held as text in full. A write
// that fails raises ESendFailed (kStandardOutputFailed).
class TPrintDelivery : public TDelivery {
public:
  void Deliver(const CliJob &job) override;
};

} // namespace pellicar
