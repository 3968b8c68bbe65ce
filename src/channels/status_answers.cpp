#include "channels/status_answers.h"

namespace pellicar {

namespace {

bool Bit(quint8 byte, int bit) { return (byte >> bit) & 1; }

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
  status.drawerOpen = Bit(printer, 2);
  status.online = !Bit(printer, 3);
  status.coverOpen = Bit(offline, 2);
  status.feedButtonPressed = Bit(offline, 3);
  status.errorOccurred = Bit(offline, 6);
  // Either bit of a pair counts: a printer sets both, and one alone is
  // still the sensor speaking. Printing stopped by the paper's end is the
  // paper being out as well.
  if (Bit(paper, 5) || Bit(paper, 6) || Bit(offline, 5))
    status.paper = PaperState::Out;
  else if (Bit(paper, 2) || Bit(paper, 3))
    status.paper = PaperState::NearEnd;
  // One error is named; an unrecoverable one weighs most, and a cutter
  // error more than one the printer recovers from by itself.
  if (Bit(errors, 5))
    status.error = PrinterError::Unrecoverable;
  else if (Bit(errors, 3))
    status.error = PrinterError::Cutter;
  else if (Bit(errors, 6))
    status.error = PrinterError::AutoRecoverable;
  return status;
}

} // namespace pellicar
