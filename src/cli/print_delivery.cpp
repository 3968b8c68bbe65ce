#include "cli/print_delivery.h"

#include "cli/cli_errors.h"
#include "cli/terminal.h"

namespace pellicar {

QByteArray TPrintDelivery::Lines(const std::vector<CommandSequence> &sequences) {
  QByteArray lines;
  for (const CommandSequence &sequence : sequences)
    lines += sequence.documentName.toUtf8() + '\t' + sequence.bytes.toHex(' ').toUpper() + '\n';
  return lines;
}

void TPrintDelivery::Deliver(const CliJob &job) {
  if (!WriteStandard(StandardStream::Output, Lines(job.sequences)))
    throw ESendFailed(QStringLiteral("Writing to standard output failed"));
}

} // namespace pellicar
