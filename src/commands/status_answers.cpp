#include "commands/status_answers.h"

namespace pellicar {

namespace {

bool Any(quint8 byte, quint8 bits) { return (byte & bits) != 0; }

} // namespace

QByteArray StatusRequest(int n) {
  QByteArray request(3, '\0');
  request[0] = char(0x10);
  request[1] = char(0x04);
  request[2] = char(n);
  return request;
}

bool ReportedStatus::Ready() const {
  return online && !coverOpen && paper != PaperState::Out && !errorOccurred &&
         error == PrinterError::None;
}

ReportedStatus DecodeStatusAnswers(const std::array<quint8, kStatusRequestCount> &answers) {
  const quint8 printer = answers[0];
  const quint8 offline = answers[1];
  const quint8 errors = answers[2];
  const quint8 paper = answers[3];
  ReportedStatus status;
  status.drawerOpen = Any(printer, kStatus1DrawerPin3);
  status.online = !Any(printer, kStatus1Offline);
  status.coverOpen = Any(offline, kStatus2CoverOpen);
  status.feedButtonPressed = Any(offline, kStatus2FeedButton);
  status.errorOccurred = Any(offline, kStatus2ErrorOccurred);
  // Either bit of a pair counts: a printer sets both, and one alone is
  // still the sensor speaking. Printing stopped by the paper's end is the
  // paper being out as well.
  if (Any(paper, kStatus4PaperEnd) || Any(offline, kStatus2StoppedByPaperEnd))
    status.paper = PaperState::Out;
  else if (Any(paper, kStatus4PaperNearEnd))
    status.paper = PaperState::NearEnd;
  // One error is named; an unrecoverable one weighs most, and a cutter
  // error more than one the printer recovers from by itself.
  if (Any(errors, kStatus3Unrecoverable))
    status.error = PrinterError::Unrecoverable;
  else if (Any(errors, kStatus3Cutter))
    status.error = PrinterError::Cutter;
  else if (Any(errors, kStatus3AutoRecoverable))
    status.error = PrinterError::AutoRecoverable;
  return status;
}

} // namespace pellicar
