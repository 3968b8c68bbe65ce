#pragma once

#include <QString>
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
// (about a second), and after such a failure the remaining steps of the job
// fail at once.
//
// Not thread-safe; callers use one object from one thread (the window's is
// the main thread).
class Spooler {
public:
  virtual ~Spooler() = default;

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

  // Finishes the document so that the job prints; when no document was
  // started, or the server refuses the finished document, the job is
  // cancelled instead, so that no job is left waiting for data.
  virtual bool EndDoc() = 0;

  // Releases the printer and the connection; a job not ended by EndDoc is
  // cancelled. Harmless when nothing is open.
  virtual void ClosePrinter() = 0;
};

// The spooler of this machine: the print server that the machine's client
// configuration names (on Linux the CUPS server of CUPS_SERVER, read at each
// OpenPrinter, or of the client configuration files). `timeoutMs` bounds
// every wait for the server.
std::unique_ptr<Spooler> CreateSystemSpooler(int timeoutMs = 1000);

} // namespace pellicar
