#include "cli/file_delivery.h"

#include "cli/cli_errors.h"
#include "cli/terminal.h"

#include <QFile>
#include <QFileInfo>

namespace pellicar {

void TFileDelivery::Deliver(const CliJob &job) {
  QByteArray bytes;
  for (const CommandSequence &sequence : job.sequences)
    bytes += sequence.bytes;
  if (path_ == QLatin1String("-")) {
    if (!WriteStandard(StandardStream::Output, bytes))
      throw ESendFailed(QLatin1String(kStandardOutputFailed));
    return;
  }
  // A device (/dev/null, a printer's device node) or a pipe is written as
  // it stands: appending would seek, which such a file cannot do.
  const QFileInfo info(path_);
  const bool device = info.exists() && !info.isFile() && !info.isDir();
  QFile file(path_);
  if (!file.open(device ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Append))
    throw ESendFailed(
        QStringLiteral("%1: cannot be opened for writing (%2)").arg(path_, file.errorString()));
  if (file.write(bytes) != bytes.size() || !file.flush())
    throw ESendFailed(QStringLiteral("%1: writing failed (%2)").arg(path_, file.errorString()));
  file.close();
  if (file.error() != QFileDevice::NoError)
    throw ESendFailed(QStringLiteral("%1: writing failed (%2)").arg(path_, file.errorString()));
}

} // namespace pellicar
