#include "profile/profile_writer.h"

#include "commands/code_page_table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace pellicar {

namespace {

template <std::size_t N> QString Item(const std::array<const char *, N> &items, int index) {
  return QString::fromUtf8(items.at(std::size_t(index)));
}

QString Word(std::initializer_list<const char *> words, int index) {
  return QString::fromLatin1(*(words.begin() + index));
}

QJsonObject BaseJson(const BaseSettings &base) {
  const CodePage &row = kCodePages.at(std::size_t(base.codePageIndex));
  return QJsonObject{
      {QStringLiteral("baudRate"), Item(kPrinterBaudRateItems, base.baudRateIndex).toInt()},
      {QStringLiteral("parity"), Word({"none", "odd", "even"}, base.parityIndex)},
      {QStringLiteral("cutter"), base.cutter},
      {QStringLiteral("buzzer"), base.buzzer},
      {QStringLiteral("drawer"), base.drawer},
      {QStringLiteral("charsPerLine"), Item(kCharsPerLineItems, base.charsPerLineIndex).toInt()},
      {QStringLiteral("density"), Word({"normal", "dark"}, base.densityIndex)},
      {QStringLiteral("codePage"), int(row.number)},
      {QStringLiteral("codePageName"), row.displayName()},
      {QStringLiteral("font"), Word({"A", "B", "C"}, base.fontIndex)},
      {QStringLiteral("reprint"), base.reprint},
      {QStringLiteral("buzzAfterPrinting"), base.buzzAfterPrinting},
  };
}

QJsonObject WifiJson(const ProfileWifi &wifi) {
  const WifiSettings &s = wifi.settings;
  QJsonObject json{{QStringLiteral("ssid"), s.ssid}};
  QString key;
  switch (s.security) {
  case WifiSecurity::Open:
    json.insert(QStringLiteral("security"), QStringLiteral("open"));
    return json;
  case WifiSecurity::Wpa:
    json.insert(QStringLiteral("security"), Word({"wpa-psk", "wpa2-psk"}, s.wpaTypeIndex));
    json.insert(QStringLiteral("cipher"), Word({"tkip", "aes"}, s.cipherIndex));
    key = s.wpaKey;
    break;
  case WifiSecurity::Wep:
    json.insert(QStringLiteral("security"), Word({"wep-open", "wep-share"}, s.wepTypeIndex));
    key = s.wepKey;
    break;
  }
  if (!wifi.keyEnv.isEmpty())
    json.insert(QStringLiteral("keyEnv"), wifi.keyEnv);
  else
    json.insert(QStringLiteral("key"), key);
  return json;
}

} // namespace

QJsonObject ProfileToJson(const Profile &profile) {
  QJsonObject json{{QStringLiteral("pellicarProfile"), kProfileVersion}};
  if (!profile.name.isEmpty())
    json.insert(QStringLiteral("name"), profile.name);
  if (profile.base)
    json.insert(QStringLiteral("base"), BaseJson(*profile.base));
  QJsonObject ethernet;
  if (profile.ip)
    ethernet.insert(
        QStringLiteral("ip"),
        QStringList(profile.ip->texts.begin(), profile.ip->texts.end()).join(QLatin1Char('.')));
  if (profile.mac) {
    QStringList pairs{QStringLiteral("00")};
    for (const QString &text : profile.mac->texts)
      pairs << QStringLiteral("%1").arg(text.toInt() & 0xFF, 2, 16, QLatin1Char('0'));
    ethernet.insert(QStringLiteral("mac"), pairs.join(QLatin1Char(':')));
  }
  if (profile.speedIndex)
    ethernet.insert(QStringLiteral("speed"), Item(kLinkSpeedItems, *profile.speedIndex));
  if (!ethernet.isEmpty())
    json.insert(QStringLiteral("ethernet"), ethernet);
  if (profile.wifi)
    json.insert(QStringLiteral("wifi"), WifiJson(*profile.wifi));
  if (profile.blackMark) {
    const ProfileBlackMark &mark = *profile.blackMark;
    QJsonObject section;
    if (mark.enabled)
      section.insert(QStringLiteral("enabled"), *mark.enabled);
    const std::pair<const char *, const std::optional<int> &> distances[] = {
        {"pitchMm", mark.pitchMm},
        {"widthMm", mark.widthMm},
        {"printOffsetMm", mark.printOffsetMm},
        {"cutOffsetMm", mark.cutOffsetMm}};
    for (const auto &[key, value] : distances)
      if (value)
        section.insert(QString::fromLatin1(key), *value);
    json.insert(QStringLiteral("blackMark"), section);
  }
  if (profile.logos) {
    QJsonArray logos;
    for (const ProfileLogo &logo : *profile.logos) {
      QJsonObject entry;
      if (!logo.name.isEmpty())
        entry.insert(QStringLiteral("name"), logo.name);
      if (logo.embedded())
        entry.insert(QStringLiteral("bmp"), QString::fromLatin1(logo.bmp.toBase64()));
      else
        entry.insert(QStringLiteral("file"), logo.file);
      logos.append(entry);
    }
    json.insert(QStringLiteral("logos"), logos);
  }
  if (profile.connection) {
    const ProfileConnection &c = *profile.connection;
    QJsonObject section{{QStringLiteral("port"), Word({"driver", "serial", "tcp"}, int(c.port))}};
    if (c.printer)
      section.insert(QStringLiteral("printer"), *c.printer);
    if (c.serialPort)
      section.insert(QStringLiteral("serialPort"), *c.serialPort);
    if (c.baudRate)
      section.insert(QStringLiteral("baudRate"), *c.baudRate);
    if (c.parityIndex)
      section.insert(QStringLiteral("parity"), Word({"none", "odd", "even"}, *c.parityIndex));
    if (c.host)
      section.insert(QStringLiteral("host"), *c.host);
    if (c.tcpPort)
      section.insert(QStringLiteral("tcpPort"), *c.tcpPort);
    json.insert(QStringLiteral("connection"), section);
  }
  return json;
}

bool ProfileHoldsKey(const Profile &profile) {
  if (!profile.wifi || !profile.wifi->keyEnv.isEmpty())
    return false;
  const WifiSettings &s = profile.wifi->settings;
  return (s.security == WifiSecurity::Wpa && !s.wpaKey.isEmpty()) ||
         (s.security == WifiSecurity::Wep && !s.wepKey.isEmpty());
}

std::optional<QString> WriteProfileFile(const QString &path, const Profile &profile) {
  const QByteArray bytes = QJsonDocument(ProfileToJson(profile)).toJson(QJsonDocument::Indented);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return file.errorString();
  // The new file replaces the old one by a rename, and a save file takes
  // over the old file's permissions: a key must not end up readable by
  // others because an earlier profile at the same path was.
  if (ProfileHoldsKey(profile) &&
      !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
    file.cancelWriting();
    return QStringLiteral("cannot make the file private to its owner: %1").arg(file.errorString());
  }
  if (file.write(bytes) != bytes.size() || !file.commit())
    return file.errorString();
  return std::nullopt;
}

} // namespace pellicar
