#pragma once

#include "channels/printer_link.h"
#include "commands/status_answers.h"

#include <array>
#include <optional>

namespace pellicar {

struct StatusReading {
  std::array<quint8, kStatusRequestCount> answers{}; // to DLE EOT 1, 2, 3, 4
  ReportedStatus status;
};

// Asks the printer at the other end of `link` for its status: throws away
// what arrived unasked before, then sends DLE EOT 1, 2, 3 and 4, each once
// the answer to the one before is in, and reads the answers past bytes
// nobody asked for (TStatusAnswerReader). The whole exchange, all four
// questions, ends by `deadline`; `boundMs` is the bound it stands for, as
// messages name it. Throws EPrinterLinkError when an answer does not come
// in time, when one has wrong fixed bits (it is not trusted), or when the
// link fails. Main thread.
StatusReading QueryPrinterStatus(TPrinterLink &link, const QDeadlineTimer &deadline, int boundMs);

} // namespace pellicar
