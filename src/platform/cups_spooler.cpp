// CUPS implementation of the print-server seams: the list of print queues
// and the raw job in seven steps.
//
// Every job is created held (by servers that can hold it) and released
// only once the server has confirmed its whole document. A job whose
// document or release the server did not confirm is then cancelled (or,
// when its release may have been taken, looked up) on a fresh connection,
// so that a job reported failed never prints afterwards: at worst it stays
// held on the server.

#include "platform/printer_list.h"
#include "platform/spooler.h"

#include <QDeadlineTimer>

#include <cups/cups.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace pellicar {

namespace {

// How long settling a job whose end the server did not confirm may wait
// for the server: asking the job's state and cancelling it take a local
// server a few milliseconds, so a server that has not answered again
// within this is reported instead of waited for.
constexpr int kSettleBoundMs = 500;

// IPP job states.
constexpr int kJobPending = 3;
constexpr int kJobHeld = 4;
constexpr int kJobProcessing = 5;
constexpr int kJobStopped = 6;
constexpr int kJobCompleted = 9;

// Never ask for a password: the library's default prompt reads the
// terminal and would block the caller for as long as nobody types.
const char *noPassword(const char *, http_t *, const char *, const char *, void *) {
  return nullptr;
}

// Bounds every wait of `http` by `ms`: when a wait runs out, the callback
// gives up.
void setWait(http_t *http, qint64 ms) {
  httpSetTimeout(
      http, double(std::max<qint64>(ms, 1)) / 1000.0, [](http_t *, void *) { return 0; }, nullptr);
}

// A connection of our own with a bounded wait: the library's default
// connection waits minutes for a server that accepts and never answers.
http_t *connectToServer(qint64 timeoutMs) {
  if (timeoutMs <= 0)
    return nullptr;
  // libcups reads CUPS_SERVER and the client configuration once per thread
  // and keeps the result; resetting it here makes every connection follow
  // the configuration as it is now.
  cupsSetServer(nullptr);
  cupsSetPasswordCB2(noPassword, nullptr);
  int cancel = 0;
  http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              int(timeoutMs), &cancel);
  if (http != nullptr)
    setWait(http, timeoutMs);
  return http;
}

// Starts `request` as a POST to `resource` and writes its IPP part;
// `length` 0 sends the body chunked, for a document that follows. The
// library's own request functions first wait a fixed second for the
// server's go-ahead, which a server that stopped answering never gives;
// the request is sent without asking for it.
bool post(http_t *http, ipp_t *request, const char *resource, size_t length) {
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  if (const char *authorization = httpGetAuthString(http))
    httpSetField(http, HTTP_FIELD_AUTHORIZATION, authorization);
  httpSetLength(http, length);
  if (httpPost(http, resource) != 0)
    return false;
  ippSetState(request, IPP_STATE_IDLE);
  for (;;) {
    const ipp_state_t state = ippWrite(http, request);
    if (state == IPP_STATE_DATA)
      return true;
    if (state == IPP_STATE_ERROR)
      return false;
  }
}

// Waits for the answer to the request under way; nullptr when none came
// whole. When the wait times out, the library's own status still shows
// the previous request's success: only the connection's status tells.
ipp_t *receive(http_t *http, const char *resource, http_status_t *status = nullptr) {
  ipp_t *response = cupsGetResponse(http, resource);
  const http_status_t transfer = httpGetStatus(http);
  if (status != nullptr)
    *status = transfer;
  if (transfer != HTTP_STATUS_OK) {
    ippDelete(response);
    return nullptr;
  }
  return response;
}

// Sends `request` (consumed) and returns the answer for the caller to
// delete, or nullptr. A server that asks who we are gets the local
// credentials, once.
ipp_t *exchange(http_t *http, ipp_t *request, const char *resource) {
  ipp_t *response = nullptr;
  for (int attempt = 0; attempt < 2 && response == nullptr; ++attempt) {
    http_status_t status = HTTP_STATUS_ERROR;
    if (post(http, request, resource, ippLength(request)))
      response = receive(http, resource, &status);
    if (status != HTTP_STATUS_UNAUTHORIZED || cupsDoAuthentication(http, "POST", resource) != 0)
      break;
  }
  ippDelete(request);
  return response;
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

  void SetDeadline(const QDeadlineTimer &deadline) override;
  bool OpenPrinter(const QString &printer) override;
  bool StartDoc(const JobDescription &job) override;
  bool StartPage() override;
  qint32 Write(const char *data, qint32 count) override;
  bool EndPage() override { return http_ != nullptr; }
  bool EndDoc() override;
  void ClosePrinter() override;
  QStringList TakeUnsettledJobs() override { return std::exchange(unsettled_, {}); }

  QString LastError() const override { return lastError_; }

private:
  ipp_t *newRequest(ipp_op_t operation) const;
  ipp_t *newJobRequest(ipp_op_t operation) const;
  // The wait left for a step of the job; 0 once the allowance is spent.
  qint64 stepWaitMs() const;
  // Sends a request of the job on the job's connection; nullptr when the
  // server did not answer in time, after which the connection is given up.
  ipp_t *jobExchange(ipp_t *request, const char *resource);
  // Makes sure a job that will not be reported sent never prints; true
  // when the job turns out to be printing after all (its release was
  // taken although its answer was lost).
  bool settle(bool releaseInDoubt);
  bool usable() const { return http_ != nullptr && !broken_; }

  const int timeoutMs_;
  QDeadlineTimer deadline_{QDeadlineTimer::Forever};
  qint64 settleReserveMs_ = 0;
  http_t *http_ = nullptr;
  // The connection failed or the server stopped answering: nothing more
  // is sent on it, so that one dead server costs one timeout, not one per
  // remaining step.
  QString lastError_;
  bool broken_ = false;
  QByteArray queue_;
  QByteArray queueUri_;
  QByteArray queueResource_;
  int jobId_ = 0;
  bool held_ = false; // the server holds the job until it is released
  QByteArray title_;
  bool documentOpen_ = false;
  QStringList unsettled_;
};

void CupsSpooler::SetDeadline(const QDeadlineTimer &deadline) {
  deadline_ = deadline;
  // The last part of the allowance is kept for settling a job the server
  // did not confirm.
  settleReserveMs_ =
      deadline.isForever() ? 0 : std::min<qint64>(kSettleBoundMs, deadline.remainingTime() / 2);
}

qint64 CupsSpooler::stepWaitMs() const {
  if (deadline_.isForever())
    return timeoutMs_;
  return std::clamp<qint64>(deadline_.remainingTime() - settleReserveMs_, 0, timeoutMs_);
}

ipp_t *CupsSpooler::newRequest(ipp_op_t operation) const {
  ipp_t *request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               queueUri_.constData());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

ipp_t *CupsSpooler::newJobRequest(ipp_op_t operation) const {
  ipp_t *request = newRequest(operation);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId_);
  return request;
}

ipp_t *CupsSpooler::jobExchange(ipp_t *request, const char *resource) {
  const qint64 wait = stepWaitMs();
  ipp_t *response = nullptr;
  if (usable() && wait > 0) {
    setWait(http_, wait);
    response = exchange(http_, request, resource);
  } else {
    ippDelete(request);
  }
  if (response == nullptr)
    broken_ = true;
  return response;
}

bool CupsSpooler::OpenPrinter(const QString &printer) {
  ClosePrinter();
  lastError_.clear();
  const QByteArray name = printer.toUtf8();
  if (!isValidQueueName(name)) {
    lastError_ = QStringLiteral("\"%1\" is not a valid print queue name").arg(printer);
    return false;
  }
  http_ = connectToServer(stepWaitMs());
  if (http_ == nullptr) {
    lastError_ = QStringLiteral("the print server (%1) cannot be reached: %2")
                     .arg(QString::fromLocal8Bit(cupsServer()),
                          QString::fromLocal8Bit(cupsLastErrorString()));
    return false;
  }

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
  ipp_t *response = jobExchange(request, queueResource_.constData());
  const bool found = succeeded(response);
  if (!found)
    lastError_ =
        response == nullptr
            ? QStringLiteral("the print server did not answer")
            : QStringLiteral("the print server has no queue \"%1\" (%2)")
                  .arg(printer, QString::fromLatin1(ippErrorString(ippGetStatusCode(response))));
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

  // Held until EndDoc releases it: a job whose document the server may
  // have taken without our hearing of it must not print behind our back.
  title_ = job.documentName.toUtf8();
  ipp_t *request = newRequest(IPP_OP_CREATE_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title_.constData());
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
  ipp_t *response = jobExchange(request, queueResource_.constData());
  if (succeeded(response)) {
    if (ipp_attribute_t *id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER))
      jobId_ = ippGetInteger(id, 0);
    // A server that ignored the hold prints the job as soon as it has the
    // document; there is nothing to release then.
    held_ = ippGetStatusCode(response) == IPP_STATUS_OK;
  }
  if (jobId_ <= 0) {
    QString why = response == nullptr
                      ? QStringLiteral("no answer")
                      : QString::fromLatin1(ippErrorString(ippGetStatusCode(response)));
    if (ipp_attribute_t *said = response != nullptr
                                    ? ippFindAttribute(response, "status-message", IPP_TAG_TEXT)
                                    : nullptr)
      why += QStringLiteral(", \"%1\"").arg(QString::fromUtf8(ippGetString(said, 0, nullptr)));
    lastError_ = QStringLiteral("the print server refused the job (%1)").arg(why);
  }
  ippDelete(response);
  return jobId_ > 0;
}

bool CupsSpooler::StartPage() {
  const qint64 wait = stepWaitMs();
  if (!usable() || jobId_ == 0 || documentOpen_ || wait <= 0)
    return false;
  ipp_t *request = newJobRequest(IPP_OP_SEND_DOCUMENT);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "document-name", nullptr,
               title_.constData());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               CUPS_FORMAT_RAW);
  ippAddBoolean(request, IPP_TAG_OPERATION, "last-document", 1);
  setWait(http_, wait);
  documentOpen_ = post(http_, request, queueResource_.constData(), 0);
  ippDelete(request);
  if (!documentOpen_)
    broken_ = true;
  return documentOpen_;
}

qint32 CupsSpooler::Write(const char *data, qint32 count) {
  const qint64 wait = stepWaitMs();
  // A write of no bytes would end the document's chunked transfer early.
  if (count <= 0 || !usable() || !documentOpen_)
    return 0;
  if (wait <= 0) {
    broken_ = true;
    return 0;
  }
  setWait(http_, wait);
  if (httpWrite2(http_, data, size_t(count)) != count) {
    broken_ = true;
    lastError_ = QStringLiteral("the connection to the print server broke during the job");
    return 0;
  }
  return count;
}

bool CupsSpooler::EndDoc() {
  if (jobId_ == 0)
    return false;
  bool confirmed = false;
  bool releaseInDoubt = false;
  if (documentOpen_ && usable()) {
    const qint64 wait = stepWaitMs();
    ipp_t *response = nullptr;
    if (wait > 0) {
      setWait(http_, wait);
      response = receive(http_, queueResource_.constData());
    }
    if (response == nullptr)
      broken_ = true;
    // The server refuses an empty document: the job is cancelled below.
    const bool documentTaken = succeeded(response);
    ippDelete(response);
    documentOpen_ = false;
    if (documentTaken && !held_) {
      confirmed = true;
    } else if (documentTaken) {
      ipp_t *released = jobExchange(newJobRequest(IPP_OP_RELEASE_JOB), "/jobs/");
      confirmed = succeeded(released);
      // A release the server refused leaves the job held; one that went
      // unanswered may have been taken.
      releaseInDoubt = released == nullptr;
      ippDelete(released);
    }
  }
  documentOpen_ = false;
  if (!confirmed)
    confirmed = settle(releaseInDoubt);
  if (!confirmed && lastError_.isEmpty())
    lastError_ = QStringLiteral("the print server did not confirm the job; it was cancelled");
  jobId_ = 0;
  held_ = false;
  return confirmed;
}

bool CupsSpooler::settle(bool releaseInDoubt) {
  if (jobId_ == 0)
    return false;
  // On the job's connection while the server answers there; on a fresh one
  // otherwise, since the old one may still be waiting for an answer.
  QDeadlineTimer bound(kSettleBoundMs);
  if (!deadline_.isForever())
    bound = std::min(bound, deadline_);
  http_t *http = nullptr;
  if (usable()) {
    http = http_;
  } else {
    if (http_ != nullptr)
      httpClose(http_);
    http_ = nullptr;
    http = connectToServer(bound.remainingTime());
  }
  auto ask = [&](ipp_t *request) -> ipp_t * {
    const qint64 left = bound.remainingTime();
    if (http == nullptr || left <= 0) {
      ippDelete(request);
      return nullptr;
    }
    setWait(http, left);
    return exchange(http, request, "/jobs/");
  };

  bool answered = false;
  bool printing = false;
  bool mustCancel = !releaseInDoubt;
  if (releaseInDoubt) {
    // The release went out and its answer was lost: the job's state says
    // whether the server took it.
    ipp_t *request = newJobRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "job-state");
    ipp_t *response = ask(request);
    ipp_attribute_t *state =
        succeeded(response) ? ippFindAttribute(response, "job-state", IPP_TAG_ENUM) : nullptr;
    if (state != nullptr) {
      const int value = ippGetInteger(state, 0);
      answered = true;
      printing = value == kJobPending || value == kJobProcessing || value == kJobStopped ||
                 value == kJobCompleted;
      mustCancel = value == kJobHeld;
    }
    ippDelete(response);
  }
  if (mustCancel) {
    ipp_t *response = ask(newJobRequest(IPP_OP_CANCEL_JOB));
    answered = succeeded(response);
    ippDelete(response);
  }
  if (http != http_ && http != nullptr)
    httpClose(http);
  else if (http == http_ && !answered)
    broken_ = true;

  if (!answered) {
    const QString what =
        QStringLiteral("The print server %1 did not confirm job %2 \"%3\" on queue %4, and it "
                       "could not be cancelled: ")
            .arg(QString::fromUtf8(cupsServer()))
            .arg(jobId_)
            .arg(QString::fromUtf8(title_), QString::fromUtf8(queue_));
    unsettled_.append(what + (releaseInDoubt ? QStringLiteral("it may still print.")
                                             : QStringLiteral("it is held there and prints only "
                                                              "if someone releases it.")));
  }
  return printing;
}

void CupsSpooler::ClosePrinter() {
  if (jobId_ != 0) {
    // Left open by the caller: the job goes. Finishing a half-sent
    // document would only leave it held, but its transfer is broken off by
    // dropping the connection, and the job is cancelled on a new one.
    if (documentOpen_) {
      httpClose(http_);
      http_ = nullptr;
      documentOpen_ = false;
    }
    settle(false);
  }
  if (http_ != nullptr)
    httpClose(http_);
  http_ = nullptr;
  broken_ = false;
  queue_.clear();
  queueUri_.clear();
  queueResource_.clear();
  jobId_ = 0;
  held_ = false;
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
  ipp_t *response = exchange(http, request, "/");
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

std::optional<std::vector<PrintQueueInfo>> QueryPrintQueues(int timeoutMs) {
  http_t *http = connectToServer(timeoutMs);
  if (http == nullptr)
    return std::nullopt;
  ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char *const attributes[] = {"printer-name", "device-uri", "printer-state",
                                           "printer-is-accepting-jobs", "printer-state-message"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                int(std::size(attributes)), nullptr, attributes);
  ipp_t *response = exchange(http, request, "/");
  std::optional<std::vector<PrintQueueInfo>> queues;
  if (response != nullptr) {
    queues.emplace();
    // The answer holds one group of attributes per queue; a group ends
    // where the group tag changes (the separator between two queues).
    std::optional<PrintQueueInfo> queue;
    auto finish = [&] {
      if (queue && !queue->name.isEmpty())
        queues->push_back(*queue);
      queue.reset();
    };
    for (ipp_attribute_t *attr = ippFirstAttribute(response); attr != nullptr;
         attr = ippNextAttribute(response)) {
      const char *name = ippGetName(attr);
      if (ippGetGroupTag(attr) != IPP_TAG_PRINTER || name == nullptr) {
        finish();
        continue;
      }
      if (!queue)
        queue.emplace();
      const QByteArray key(name);
      if (key == "printer-name")
        queue->name = QString::fromUtf8(ippGetString(attr, 0, nullptr));
      else if (key == "device-uri")
        queue->deviceUri = QString::fromUtf8(ippGetString(attr, 0, nullptr));
      else if (key == "printer-state-message")
        queue->stateMessage = QString::fromUtf8(ippGetString(attr, 0, nullptr));
      else if (key == "printer-is-accepting-jobs")
        queue->acceptingJobs = ippGetBoolean(attr, 0) != 0;
      else if (key == "printer-state") {
        switch (ippGetInteger(attr, 0)) {
        case IPP_PSTATE_IDLE:
          queue->state = PrintQueueInfo::State::Idle;
          break;
        case IPP_PSTATE_PROCESSING:
          queue->state = PrintQueueInfo::State::Printing;
          break;
        case IPP_PSTATE_STOPPED:
          queue->state = PrintQueueInfo::State::Stopped;
          break;
        default:
          break;
        }
      }
    }
    finish();
    ippDelete(response);
  }
  httpClose(http);
  return queues;
}

} // namespace pellicar
