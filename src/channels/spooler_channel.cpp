#include "channels/spooler_channel.h"

#include <QIODevice>

#include <limits>

namespace pellicar {

namespace {

// Opens the printer, the job and its page. On failure undoes what was
// done, in the spooler's order, and returns false.
bool beginJob(Spooler &spooler, const QString &printer, const QString &documentName) {
  if (printer.isEmpty())
    return false;
  if (!spooler.OpenPrinter(printer))
    return false;
  const JobDescription job{documentName, QString(), QStringLiteral("RAW")};
  if (!spooler.StartDoc(job)) {
    spooler.ClosePrinter();
    return false;
  }
  if (!spooler.StartPage()) {
    spooler.EndDoc();
    spooler.ClosePrinter();
    return false;
  }
  return true;
}

// Ends the job; true when the spooler confirmed it. The page's end says
// nothing: the job is over either way.
bool endJob(Spooler &spooler) {
  spooler.EndPage();
  const bool confirmed = spooler.EndDoc();
  spooler.ClosePrinter();
  return confirmed;
}

} // namespace

qint32 SendRawBuffer(Spooler &spooler, const QString &printer, const QString &documentName,
                     const QByteArray &data) {
  if (data.size() > std::numeric_limits<qint32>::max())
    return 0;
  if (!beginJob(spooler, printer, documentName))
    return 0;
  const qint32 accepted = spooler.Write(data.constData(), qint32(data.size()));
  return endJob(spooler) ? accepted : 0;
}

bool SendRawStream(Spooler &spooler, const QString &printer, const QString &documentName,
                   QIODevice &stream) {
  if (!stream.isReadable())
    return false;
  if (!beginJob(spooler, printer, documentName))
    return false;
  char buffer[kRawStreamPiece];
  qint64 written = 0;
  for (;;) {
    const qint64 count = stream.read(buffer, sizeof buffer);
    if (count == 0)
      break;
    if (count < 0) {
      // Without EndDoc the spooler cancels the job: a stream cut short by a
      // read error is not printed.
      spooler.EndPage();
      spooler.ClosePrinter();
      return false;
    }
    if (spooler.Write(buffer, qint32(count)) != count) {
      endJob(spooler);
      return false;
    }
    written += count;
  }
  // An empty rest had nothing to deliver; a server may refuse the empty
  // document, which changes nothing.
  return endJob(spooler) || written == 0;
}

} // namespace pellicar
