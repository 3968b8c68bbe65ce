// CUPS implementation of the print-server seams: the list of print queues
// and the raw job in seven steps.

#include "platform/printer_list.h"
#include "platform/spooler.h"

#include <cups/cups.h>

namespace pellicar {

namespace {

// Never ask for a password: the library's default prompt reads the
// terminal and would block the caller for as long as nobody types.
const char *noPassword(const char *, http_t *, const char *, const char *, void *) {
  return nullptr;
}

// A connection of our own with a bounded wait: the library's default
// connection waits minutes for a server that accepts and never answers.
http_t *connectToServer(int timeoutMs) {
  // libcups reads CUPS_SERVER and the client configuration once per thread
  // and keeps the result; resetting it here makes every connection follow
  // the configuration as it is now.
  cupsSetServer(nullptr);
  cupsSetPasswordCB2(noPassword, nullptr);
  int cancel = 0;
  http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              timeoutMs, &cancel);
  if (http == nullptr)
    return nullptr;
  // Returning 0 from the callback gives up when the timeout expires.
  httpSetTimeout(
      http, timeoutMs / 1000.0, [](http_t *, void *) { return 0; }, nullptr);
  return http;
}

bool succeeded(ipp_t *response) {
  return response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
}

// The server's own rule for queue names: 1 to 127 bytes, printable, no
// blank and none of the characters that would change the meaning of the
// queue's URI.
bool isValidQueueName(const QByteArray &name) {
  if (name.isEmpty() || name.size() > 127)
    return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= ' ' || byte == 0x7f)
      return false;
    if (c == '/' || c == '\\' || c == '?' || c == '\'' || c == '"' || c == '#')
      return false;
  }
  return true;
}

class CupsSpooler final : public Spooler {
public:
  explicit CupsSpooler(int timeoutMs) : timeoutMs_(timeoutMs) {}
  ~CupsSpooler() override { ClosePrinter(); }

  CupsSpooler(const CupsSpooler &) = delete;
  CupsSpooler &operator=(const CupsSpooler &) = delete;

  bool OpenPrinter(const QString &printer) override;
  bool StartDoc(const JobDescription &job) override;
  bool StartPage() override;
  qint32 Write(const char *data, qint32 count) override;
  bool EndPage() override { return http_ != nullptr; }
  bool EndDoc() override;
  void ClosePrinter() override;

private:
  ipp_t *newRequest(ipp_op_t operation) const;
  ipp_t *exchange(ipp_t *request, const char *resource);
  void cancelJob();
  bool usable() const { return http_ != nullptr && !broken_; }

  const int timeoutMs_;
  http_t *http_ = nullptr;
  // The connection failed or the server stopped answering: nothing more
  // is sent on it, so that one dead server costs one timeout, not one per
  // remaining step.
  bool broken_ = false;
  QByteArray queue_;
  QByteArray queueUri_;
  QByteArray queueResource_;
  int jobId_ = 0;
  QByteArray title_;
  bool documentOpen_ = false;
};

ipp_t *CupsSpooler::newRequest(ipp_op_t operation) const {
  ipp_t *request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               queueUri_.constData());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

// Sends `request` (consumed) and returns the response for the caller to
// delete; nullptr when the server did not answer in time or the exchange
// failed, after which the connection is given up.
ipp_t *CupsSpooler::exchange(ipp_t *request, const char *resource) {
  ipp_t *response = cupsDoRequest(http_, request, resource);
  if (response == nullptr)
    broken_ = true;
  return response;
}

bool CupsSpooler::OpenPrinter(const QString &printer) {
  ClosePrinter();
  const QByteArray name = printer.toUtf8();
  if (!isValidQueueName(name))
    return false;
  http_ = connectToServer(timeoutMs_);
  if (http_ == nullptr)
    return false;

  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                   "/printers/%s", name.constData());
  queue_ = name;
  queueUri_ = uri;
  queueResource_ = "/printers/" + name;

  // Asked on our own connection: looking the queue up through the library's
  // destination list would browse the network and use the default
  // connection, which has no bound.
  ipp_t *request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  static const char *const attributes[] = {"printer-name"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr,
                attributes);
  ipp_t *response = exchange(request, queueResource_.constData());
  const bool found = succeeded(response);
  ippDelete(response);
  if (!found)
    ClosePrinter();
  return found;
}

bool CupsSpooler::StartDoc(const JobDescription &job) {
  if (!usable() || jobId_ != 0)
    return false;
  // Only raw data straight to the printer; the queue's filters and a
  // file as output are not offered.
  if (job.datatype.compare(QLatin1String("RAW"), Qt::CaseInsensitive) != 0 ||
      !job.outputFile.isEmpty())
    return false;

  // Create-Job sent on our connection: the library's own job creation
  // looks the queue up again and falls back to the default connection when
  // that fails, and then waits minutes.
  title_ = job.documentName.toUtf8();
  ipp_t *request = newRequest(IPP_OP_CREATE_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title_.constData());
  ipp_t *response = exchange(request, queueResource_.constData());
  if (succeeded(response)) {
    if (ipp_attribute_t *id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER))
      jobId_ = ippGetInteger(id, 0);
  }
  ippDelete(response);
  return jobId_ > 0;
}

bool CupsSpooler::StartPage() {
  if (!usable() || jobId_ == 0 || documentOpen_)
    return false;
  const http_status_t status =
      cupsStartDocument(http_, queue_.constData(), jobId_, title_.constData(), CUPS_FORMAT_RAW, 1);
  if (status == HTTP_STATUS_CONTINUE) {
    documentOpen_ = true;
    return true;
  }
  if (status == HTTP_STATUS_ERROR)
    broken_ = true;
  return false;
}

qint32 CupsSpooler::Write(const char *data, qint32 count) {
  // A write of no bytes would end the document's chunked transfer early.
  if (count <= 0 || !usable() || !documentOpen_)
    return 0;
  const http_status_t status = cupsWriteRequestData(http_, data, size_t(count));
  if (status == HTTP_STATUS_CONTINUE)
    return count;
  if (status == HTTP_STATUS_ERROR)
    broken_ = true;
  return 0;
}

bool CupsSpooler::EndDoc() {
  if (jobId_ == 0)
    return false;
  bool printing = false;
  if (documentOpen_ && usable()) {
    const ipp_status_t status = cupsFinishDocument(http_, queue_.constData());
    // When the answer times out, the library returns the status of the
    // previous request (successful-ok): only the connection tells.
    const http_status_t transfer = httpGetStatus(http_);
    if (transfer == HTTP_STATUS_ERROR)
      broken_ = true;
    printing = transfer == HTTP_STATUS_OK && status <= IPP_STATUS_OK_CONFLICTING;
  }
  documentOpen_ = false;
  // A job whose document was not started or was refused (the server
  // refuses an empty one) would otherwise wait on the queue for more data.
  if (!printing)
    cancelJob();
  jobId_ = 0;
  return printing;
}

void CupsSpooler::cancelJob() {
  if (jobId_ == 0 || !usable() || documentOpen_)
    return;
  ipp_t *request = newRequest(IPP_OP_CANCEL_JOB);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId_);
  ippDelete(exchange(request, "/jobs/"));
}

void CupsSpooler::ClosePrinter() {
  if (jobId_ != 0) {
    // Left open by the caller: the job goes. Finishing a half-sent
    // document would print it, so its transfer is broken off by dropping
    // the connection, and the job is cancelled on a new one.
    if (documentOpen_) {
      httpClose(http_);
      http_ = broken_ ? nullptr : connectToServer(timeoutMs_);
      documentOpen_ = false;
    }
    cancelJob();
  }
  if (http_ != nullptr)
    httpClose(http_);
  http_ = nullptr;
  broken_ = false;
  queue_.clear();
  queueUri_.clear();
  queueResource_.clear();
  jobId_ = 0;
  title_.clear();
  documentOpen_ = false;
}

} // namespace

std::unique_ptr<Spooler> CreateSystemSpooler(int timeoutMs) {
  return std::make_unique<CupsSpooler>(timeoutMs);
}

std::optional<QStringList> QueryInstalledPrinters(int timeoutMs) {
  http_t *http = connectToServer(timeoutMs);
  if (http == nullptr)
    return std::nullopt;

  // CUPS-Get-Printers asked directly on our connection: cupsGetDests would
  // also browse the network for printers and fall back to the default
  // connection.
  ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char *const attributes[] = {"printer-name"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr,
                attributes);
  ipp_t *response = cupsDoRequest(http, request, "/");
  // A server without queues answers "not found"; no answer at all leaves
  // no response.
  std::optional<QStringList> names;
  if (response != nullptr) {
    names.emplace();
    for (ipp_attribute_t *attr = ippFindAttribute(response, "printer-name", IPP_TAG_NAME);
         attr != nullptr; attr = ippFindNextAttribute(response, "printer-name", IPP_TAG_NAME)) {
      names->append(QString::fromUtf8(ippGetString(attr, 0, nullptr)));
    }
    ippDelete(response);
  }
  httpClose(http);
  return names;
}

} // namespace pellicar
