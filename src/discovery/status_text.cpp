#include "discovery/status_text.h"

#include <QStringList>

namespace pellicar {

namespace {

QString PaperText(PaperState paper) {
  switch (paper) {
  case PaperState::NearEnd:
    return QStringLiteral("near end");
  case PaperState::Out:
    return QStringLiteral("out");
  case PaperState::Ok:
    break;
  }
  return QStringLiteral("ok");
}

QString ErrorText(PrinterError error) {
  switch (error) {
  case PrinterError::Cutter:
    return QStringLiteral("cutter");
  case PrinterError::Unrecoverable:
    return QStringLiteral("unrecoverable");
  case PrinterError::AutoRecoverable:
    return QStringLiteral("auto-recoverable");
  case PrinterError::None:
    break;
  }
  return QStringLiteral("none");
}

} // namespace

StatusFieldList StatusFields(const ReportedStatus &status) {
  return {
      {QStringLiteral("online"), status.online ? QStringLiteral("yes") : QStringLiteral("no")},
      {QStringLiteral("cover"),
       status.coverOpen ? QStringLiteral("open") : QStringLiteral("closed")},
      {QStringLiteral("paper"), PaperText(status.paper)},
      {QStringLiteral("feed button"),
       status.feedButtonPressed ? QStringLiteral("pressed") : QStringLiteral("released")},
      {QStringLiteral("error"), ErrorText(status.error)},
      {QStringLiteral("drawer"),
       status.drawerOpen ? QStringLiteral("open") : QStringLiteral("closed")},
  };
}

QString StatusLines(const ReportedStatus &status) {
  QString lines;
  for (const auto &[key, value] : StatusFields(status))
    lines += QStringLiteral("%1: %2\n").arg(key, value);
  return lines;
}

QString NotReadyReasons(const ReportedStatus &status) {
  QStringList reasons;
  if (!status.online)
    reasons << QStringLiteral("offline");
  if (status.coverOpen)
    reasons << QStringLiteral("cover open");
  if (status.paper == PaperState::Out)
    reasons << QStringLiteral("paper out");
  if (status.error != PrinterError::None)
    reasons << QStringLiteral("%1 error").arg(ErrorText(status.error));
  else if (status.errorOccurred)
    reasons << QStringLiteral("an error");
  return reasons.join(QStringLiteral(", "));
}

QString StateText(const ReportedStatus &status) {
  if (status.error != PrinterError::None)
    return QStringLiteral("Error: %1").arg(ErrorText(status.error));
  if (status.errorOccurred)
    return QStringLiteral("Error");
  if (status.coverOpen)
    return QStringLiteral("Cover open");
  if (status.paper == PaperState::Out)
    return QStringLiteral("Paper out");
  if (!status.online)
    return QStringLiteral("Offline");
  if (status.paper == PaperState::NearEnd)
    return QStringLiteral("Paper low");
  return QStringLiteral("Ready");
}

} // namespace pellicar
