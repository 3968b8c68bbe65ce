#pragma once

#include "cli/delivery.h"

#include <QByteArray>
#include <vector>

namespace pellicar {

// The dry run: every sequence on a line of its own on standard output,
//   NAME<TAB>1F 73 02 ...
// its document name, a tab, its bytes in upper-case hexadecimal separated
// by single blanks. A stream is one such line.
class TPrintDelivery : public TDelivery {
public:
  void Deliver(const CliJob &job) override;

  static QByteArray Lines(const std::vector<CommandSequence> &sequences);
};

} // namespace pellicar
