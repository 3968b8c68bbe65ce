#include "commands/wifi_commands.h"

#include "commands/list_choice.h"

namespace pellicar {

namespace {

QByteArray LimitedUtf8(const QString &text, const char *fieldName) {
  QByteArray bytes = text.toUtf8();
  if (bytes.size() > kMaxWifiTextBytes)
    throw ETextTooLong(QString::fromUtf8(fieldName), bytes.size());
  return bytes;
}

} // namespace

ETextTooLong::ETextTooLong(const QString &fieldName, qsizetype byteCount)
    : Exception(QStringLiteral("%1 is too long: %2 bytes (at most %3 bytes can be sent).")
                    .arg(fieldName)
                    .arg(byteCount)
                    .arg(kMaxWifiTextBytes)),
      fieldName_(fieldName), byteCount_(byteCount) {}

CommandSequence BuildSetWifi(const WifiSettings &settings) {
  const QByteArray ssid = LimitedUtf8(settings.ssid, "WIFI SSID");

  char authentication = 0;
  char mode = 0;
  QByteArray key;
  switch (settings.security) {
  case WifiSecurity::Open:
    break;
  case WifiSecurity::Wpa:
    authentication = char(2 + CheckedChoice("TYPE", settings.wpaTypeIndex, kWpaTypeItems.size()));
    mode = char(CheckedChoice("ENCRYPTION", settings.cipherIndex, kCipherItems.size()));
    key = LimitedUtf8(settings.wpaKey, "WPA SECRET KEY");
    break;
  case WifiSecurity::Wep: {
    const bool shared = CheckedChoice("TYPE", settings.wepTypeIndex, kWepTypeItems.size()) == 1;
    authentication = shared ? '\x01' : '\x00';
    mode = shared ? '\x00' : '\x01';
    key = LimitedUtf8(settings.wepKey, "WEP SECRET KEY");
    break;
  }
  }

  QByteArray bytes;
  bytes.reserve(ssid.size() + key.size() + 6);
  bytes.append('\x1F').append('\x77').append(char(ssid.size()));
  bytes.append(ssid);
  bytes.append(authentication).append(mode).append(char(key.size()));
  bytes.append(key);
  return {QStringLiteral("Set WIFI"), bytes};
}

} // namespace pellicar
