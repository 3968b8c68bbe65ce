#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

namespace pellicar {

// How a job is filed on the print server: the job's title, where the
// output goes, and the format of the data.
struct JobDescription {
  QString documentName;                     // the job's title
  QString outputFile;                       // empty: to the printer itself
  QString datatype = QStringLiteral("RAW"); // "RAW": bytes go to the printer unfiltered
};

// One raw print job on the machine's print server, in seven steps:
//
//   OpenPrinter -> StartDoc -> StartPage -> Write... -> EndPage -> EndDoc
//   -> ClosePrinter
//
// A Spooler holds at most one open printer, and within it one job with one
// document, at a time; ClosePrinter releases everything, after which the
// object can open a printer again. Steps report failure by their result
// and never throw. No step waits without bound: a server that is absent,
// dead or stops answering makes the step fail within the spooler's timeout
// (about a second), or by the deadline of the action, and after such a
// failure the remaining steps of the job fail at once.
//
// A job counts as sent only when the server confirmed it: EndDoc is true
// only then. A job whose end was not confirmed is cancelled, and never
// prints afterwards; when even the cancel goes unconfirmed, the spooler
// keeps a message about it (TakeUnsettledJobs).
//
// Not thread-safe; callers use one object from one thread (the window's is
// the main thread).
class Spooler {
public:
  virtual ~Spooler() = default;

  // Bounds the jobs of one action: until the next call, no step waits past
  // `deadline`, the cancel of a job the server did not confirm included.
  // A deadline that never expires leaves each wait bounded by the
  // spooler's timeout alone.
  virtual void SetDeadline(const QDeadlineTimer &deadline) { (void)deadline; }

  // Finds the print queue `printer` on the server. False when the name is
  // not a valid queue name, the queue does not exist or the server cannot
  // be reached.
  virtual bool OpenPrinter(const QString &printer) = 0;

  // Creates the job, titled job.documentName. False when the server does
  // not take the job (queue not accepting jobs, unsupported description).
  virtual bool StartDoc(const JobDescription &job) = 0;

  // Starts the job's one document, in the job's datatype.
  virtual bool StartPage() = 0;

  // Sends `count` bytes of the document; returns how many the server
  // accepted (0..count). A count of 0 or less sends nothing.
  virtual qint32 Write(const char *data, qint32 count) = 0;

  // Ends the page; the document continues until EndDoc.
  virtual bool EndPage() = 0;

  // Finishes the document so that the job prints. True only when the server
  // confirmed the whole document and let the job print. Otherwise (no
  // document started, the document refused, no answer in time) the job is
  // cancelled instead, so that it neither waits for data nor prints after
  // it was reported failed.
  virtual bool EndDoc() = 0;

  // Releases the printer and the connection; a job not ended by EndDoc is
  // cancelled. Harmless when nothing is open.
  virtual void ClosePrinter() = 0;

  // Messages about jobs that failed and whose cancel the server did not
  // confirm either, one per job, naming the job and the server and saying
  // whether it may still print. Taking them clears them.
  virtual QStringList TakeUnsettledJobs() { return {}; }

  // Why the last call that failed did ("the print server refused the job:
  // not accepting jobs"), for messages; empty when nothing failed since
  // OpenPrinter, or when the spooler cannot say.
  virtual QString LastError() const { return {}; }
};

// The spooler of this machine: the print server that the machine's client
// configuration names (on Linux the CUPS server of CUPS_SERVER, read at each
// OpenPrinter, or of the client configuration files). `timeoutMs` bounds
// every wait for the server.
std::unique_ptr<Spooler> CreateSystemSpooler(int timeoutMs = 1000);

} // namespace pellicar
