#include "app/error_details.h"

#include "platform/system_error.h"
#include "platform/tcp_socket.h"

namespace pellicar {

namespace {

// The TCP client's code for "neither a host nor an address to connect to".
constexpr int kNoAddressCode = 1110;

QString Sentence(QString text) {
  if (!text.isEmpty() && !text.endsWith(QLatin1Char('.')))
    text += QLatin1Char('.');
  return text;
}

} // namespace

QString FirmwareDetail(const QString &path, FirmwareVerdict verdict) {
  return Sentence(QStringLiteral("%1: %2").arg(path, DescribeFirmwareVerdict(verdict)));
}

QString ConnectErrorDetail(const QString &host, int port, TErrorEvent kind, int code) {
  const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
  const QString reason = code == kNoAddressCode ? QStringLiteral("no address or host name given")
                                                : SystemErrorText(code);
  switch (kind) {
  case TErrorEvent::eeLookup:
    return Sentence(QStringLiteral("The name %1 was not found: %2").arg(host, reason));
  case TErrorEvent::eeSend:
    return Sentence(QStringLiteral("Sending to %1 failed: %2").arg(where, reason));
  case TErrorEvent::eeReceive:
  case TErrorEvent::eeDisconnect:
    return Sentence(QStringLiteral("The connection to %1 broke: %2").arg(where, reason));
  case TErrorEvent::eeConnect:
  case TErrorEvent::eeGeneral:
  case TErrorEvent::eeAccept:
    break;
  }
  return Sentence(QStringLiteral("Could not connect to %1: %2").arg(where, reason));
}

QString SendFailureDetail(const QString &channel, const QString &where, const QString &cause) {
  // "Driver：" as the radio group shows it, without its colon.
  QString shown = channel;
  while (shown.endsWith(QChar(0xFF1A)) || shown.endsWith(QLatin1Char(':')))
    shown.chop(1);
  shown = QStringLiteral("\"%1\"").arg(shown.trimmed());
  const QString name = where.isEmpty() ? shown : QStringLiteral("%1 (%2)").arg(shown, where);
  return Sentence(QStringLiteral("%1: %2").arg(name, cause));
}

} // namespace pellicar
