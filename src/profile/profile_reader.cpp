#include "profile/profile.h"

#include "commands/code_page_table.h"
#include "logo/logo_picture.h"
#include "logo/logo_raster.h"
#include "logo/logo_set.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>

#include <array>
#include <cmath>

namespace pellicar {

namespace {

QString At(const QString &parent, const QString &key) {
  return parent.isEmpty() ? key : parent + QLatin1Char('.') + key;
}

// A value as the messages quote it: text in quotes, anything else as JSON.
QString Shown(const QJsonValue &value) {
  if (value.isString())
    return QLatin1Char('"') + value.toString() + QLatin1Char('"');
  const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString KindOf(const QJsonValue &value) {
  switch (value.type()) {
  case QJsonValue::Bool:
    return QStringLiteral("true or false");
  case QJsonValue::Double:
    return QStringLiteral("a number");
  case QJsonValue::String:
    return QStringLiteral("text");
  case QJsonValue::Array:
    return QStringLiteral("a list");
  case QJsonValue::Object:
    return QStringLiteral("an object");
  default:
    return QStringLiteral("null");
  }
}

template <std::size_t N> QStringList Items(const std::array<const char *, N> &items) {
  QStringList list;
  for (const char *item : items)
    list << QString::fromUtf8(item);
  return list;
}

QStringList Words(std::initializer_list<const char *> words) {
  QStringList list;
  for (const char *word : words)
    list << QString::fromLatin1(word);
  return list;
}

// One object of the profile with its path; every read names that path in
// its refusal.
class Section {
public:
  Section(QJsonObject object, QString path) : object_(std::move(object)), path_(std::move(path)) {}

  const QString &path() const { return path_; }
  QString at(const char *key) const { return At(path_, QString::fromLatin1(key)); }

  // Refuses a key that is not in `known`: a misspelt key would otherwise
  // be ignored and its setting silently not sent.
  void onlyKeys(const QStringList &known) const {
    for (auto it = object_.begin(); it != object_.end(); ++it)
      if (!known.contains(it.key()))
        throw EProfileError(At(path_, it.key()),
                            QStringLiteral("is not a key of %1 (known: %2)")
                                .arg(path_.isEmpty() ? QStringLiteral("a profile") : path_,
                                     known.join(QStringLiteral(", "))));
  }

  // The value, or nothing when it is left out or null (the state file
  // writes null for what no command has set).
  std::optional<QJsonValue> find(const char *key) const {
    const QJsonValue value = object_.value(QString::fromLatin1(key));
    if (value.isUndefined() || value.isNull())
      return std::nullopt;
    return value;
  }

  QJsonValue need(const char *key, const QString &why) const {
    if (const std::optional<QJsonValue> value = find(key))
      return *value;
    throw EProfileError(at(key), QStringLiteral("missing; %1").arg(why));
  }

  std::optional<QString> text(const char *key) const {
    const std::optional<QJsonValue> value = find(key);
    if (!value)
      return std::nullopt;
    if (!value->isString())
      throw EProfileError(at(key), QStringLiteral("must be text, not %1").arg(KindOf(*value)));
    return value->toString();
  }

  std::optional<bool> boolean(const char *key) const {
    const std::optional<QJsonValue> value = find(key);
    if (!value)
      return std::nullopt;
    if (!value->isBool())
      throw EProfileError(at(key), QStringLiteral("%1 is not true or false").arg(Shown(*value)));
    return value->toBool();
  }

  std::optional<int> integer(const char *key, int low, int high) const {
    const std::optional<QJsonValue> value = find(key);
    if (!value)
      return std::nullopt;
    const double number = value->toDouble();
    if (!value->isDouble() || number != std::floor(number))
      throw EProfileError(at(key), QStringLiteral("%1 is not a whole number").arg(Shown(*value)));
    if (number < low || number > high)
      throw EProfileError(
          at(key),
          QStringLiteral("%1 is not between %2 and %3").arg(Shown(*value)).arg(low).arg(high));
    return int(number);
  }

  // The index of a word of `words`, written exactly so (as the state file
  // and the schema write it).
  std::optional<int> word(const char *key, const QStringList &words) const {
    const std::optional<QString> value = text(key);
    if (!value)
      return std::nullopt;
    if (const qsizetype i = words.indexOf(*value); i >= 0)
      return int(i);
    throw EProfileError(
        at(key),
        QStringLiteral("\"%1\" is not one of %2").arg(*value, words.join(QStringLiteral(", "))));
  }

  // The index of a number of `numbers`.
  std::optional<int> number(const char *key, const QList<int> &numbers) const {
    const std::optional<QJsonValue> value = find(key);
    if (!value)
      return std::nullopt;
    QStringList shown;
    for (int n : numbers) {
      if (value->isDouble() && value->toDouble() == n)
        return int(numbers.indexOf(n));
      shown << QString::number(n);
    }
    throw EProfileError(
        at(key),
        QStringLiteral("%1 is not one of %2").arg(Shown(*value), shown.join(QStringLiteral(", "))));
  }

  Section object(const char *key) const {
    const QJsonValue value = object_.value(QString::fromLatin1(key));
    if (!value.isObject())
      throw EProfileError(at(key), QStringLiteral("must be an object, not %1").arg(KindOf(value)));
    return Section(value.toObject(), at(key));
  }

  bool has(const char *key) const { return find(key).has_value(); }

private:
  QJsonObject object_;
  QString path_;
};

QList<int> Numbers(const QStringList &items) {
  QList<int> numbers;
  for (const QString &item : items)
    numbers << item.toInt();
  return numbers;
}

// --- base ---------------------------------------------------------------

BaseSettings ReadBase(const Section &base) {
  base.onlyKeys(
      Words({"baudRate", "parity", "cutter", "buzzer", "drawer", "charsPerLine", "density",
             "codePage", "codePageName", "font", "reprint", "buzzAfterPrinting"}));
  const QString why = QStringLiteral("base sets all of its keys at once, as the Base tab's SET "
                                     "does (codePageName alone may be left out)");
  for (const char *key : {"baudRate", "parity", "cutter", "buzzer", "drawer", "charsPerLine",
                          "density", "codePage", "font", "reprint", "buzzAfterPrinting"})
    base.need(key, why);
  BaseSettings settings;
  settings.baudRateIndex = *base.number("baudRate", Numbers(Items(kPrinterBaudRateItems)));
  settings.parityIndex = *base.word("parity", Words({"none", "odd", "even"}));
  settings.cutter = *base.boolean("cutter");
  settings.buzzer = *base.boolean("buzzer");
  settings.drawer = *base.boolean("drawer");
  settings.charsPerLineIndex = *base.number("charsPerLine", Numbers(Items(kCharsPerLineItems)));
  settings.densityIndex = *base.word("density", Words({"normal", "dark"}));
  settings.fontIndex = *base.word("font", Words({"A", "B", "C"}));
  settings.reprint = *base.boolean("reprint");
  settings.buzzAfterPrinting = *base.boolean("buzzAfterPrinting");

  const int codePage = *base.integer("codePage", 0, 255);
  settings.codePageIndex = -1;
  for (int row = 0; row < kCodePageCount; ++row)
    if (kCodePages[row].number == codePage)
      settings.codePageIndex = row;
  if (settings.codePageIndex < 0)
    throw EProfileError(base.at("codePage"),
                        QStringLiteral("%1 is not a code page of the printer's table; see "
                                       "'pellicar-cli list codepages'")
                            .arg(codePage));
  if (const std::optional<QString> name = base.text("codePageName")) {
    const QString expected = kCodePages[settings.codePageIndex].displayName();
    if (*name != expected)
      throw EProfileError(base.at("codePageName"),
                          QStringLiteral("\"%1\" is not the name of code page %2, which is \"%3\"")
                              .arg(*name)
                              .arg(codePage)
                              .arg(expected));
  }
  return settings;
}

// --- ethernet -----------------------------------------------------------

void ReadEthernet(const Section &ethernet, Profile &profile) {
  ethernet.onlyKeys(Words({"ip", "mac", "speed"}));
  if (const std::optional<QString> ip = ethernet.text("ip")) {
    static const QRegularExpression shape(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch match = shape.match(*ip);
    IpAddressFields fields;
    bool good = match.hasMatch();
    for (int i = 0; good && i < 4; ++i) {
      const int value = match.captured(i + 1).toInt();
      good = value <= 255;
      fields.texts[i] = QString::number(value);
    }
    if (!good)
      throw EProfileError(ethernet.at("ip"),
                          QStringLiteral("\"%1\" is not an address A.B.C.D of four numbers 0 to "
                                         "255")
                              .arg(*ip));
    profile.ip = fields;
  }
  if (const std::optional<QString> mac = ethernet.text("mac")) {
    static const QRegularExpression shape(QStringLiteral(
        "^([0-9A-Fa-f]{2}):([0-9A-Fa-f]{2}):([0-9A-Fa-f]{2}):([0-9A-Fa-f]{2}):([0-9A-Fa-f]{2}):"
        "([0-9A-Fa-f]{2})$"));
    const QRegularExpressionMatch match = shape.match(*mac);
    if (!match.hasMatch())
      throw EProfileError(ethernet.at("mac"),
                          QStringLiteral("\"%1\" is not six hexadecimal pairs such as "
                                         "00:64:65:66:67:68")
                              .arg(*mac));
    if (match.captured(1) != QLatin1String("00"))
      throw EProfileError(ethernet.at("mac"),
                          QStringLiteral("\"%1\" does not begin with 00; the printer's command "
                                         "sets the first byte to 00 always")
                              .arg(*mac));
    MacAddressFields fields;
    for (int i = 0; i < 5; ++i)
      fields.texts[i] = QString::number(match.captured(i + 2).toInt(nullptr, 16));
    profile.mac = fields;
  }
  profile.speedIndex = ethernet.word("speed", Items(kLinkSpeedItems));
}

// --- wifi ---------------------------------------------------------------

// A text given as hexadecimal bytes beside it (the state file writes such
// a field for bytes that are not UTF-8 text).
std::optional<QString> HexText(const Section &wifi, const char *hexKey,
                               const std::optional<QString> &text) {
  const std::optional<QString> hex = wifi.text(hexKey);
  if (!hex)
    return text;
  QString digits = *hex;
  digits.remove(QRegularExpression(QStringLiteral("[\\s:]")));
  static const QRegularExpression shape(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
  if (!shape.match(digits).hasMatch())
    throw EProfileError(wifi.at(hexKey),
                        QStringLiteral("\"%1\" is not pairs of hexadecimal digits").arg(*hex));
  const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
  // A leading byte-order mark is part of the text, and is sent again.
  QStringDecoder utf8(QStringDecoder::Utf8,
                      QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  const QString decoded = utf8.decode(bytes);
  if (utf8.hasError())
    throw EProfileError(wifi.at(hexKey),
                        QStringLiteral("these bytes are not plain UTF-8 text, which is all the "
                                       "window and the command-line tool send"));
  if (text && *text != decoded)
    throw EProfileError(wifi.at(hexKey), QStringLiteral("does not hold the same text as its "
                                                        "neighbour without \"Hex\""));
  return decoded;
}

void CheckLength(const Section &wifi, const char *key, const QString &text) {
  const qsizetype bytes = text.toUtf8().size();
  if (bytes > kMaxWifiTextBytes)
    throw EProfileError(wifi.at(key), QStringLiteral("%1 bytes long; the printer's command takes "
                                                     "at most %2")
                                          .arg(bytes)
                                          .arg(kMaxWifiTextBytes));
}

ProfileWifi ReadWifi(const Section &wifi, const ProfileReadOptions &options) {
  wifi.onlyKeys(Words({"ssid", "ssidHex", "security", "cipher", "key", "keyHex", "keyEnv"}));
  ProfileWifi result;
  WifiSettings &settings = result.settings;
  const std::optional<QString> ssid = HexText(wifi, "ssidHex", wifi.text("ssid"));
  if (!ssid)
    wifi.need("ssid", QStringLiteral("wifi names its network"));
  settings.ssid = *ssid;
  CheckLength(wifi, "ssid", settings.ssid);

  wifi.need("security", QStringLiteral("one of open, wpa-psk, wpa2-psk, wep-open, wep-share"));
  const int security =
      *wifi.word("security", Words({"open", "wpa-psk", "wpa2-psk", "wep-open", "wep-share"}));
  const std::optional<int> cipher = wifi.word("cipher", Words({"tkip", "aes"}));
  const bool wpa = security == 1 || security == 2;
  if (wpa && !cipher)
    wifi.need("cipher", QStringLiteral("WPA takes tkip or aes"));
  if (!wpa && cipher)
    throw EProfileError(wifi.at("cipher"), QStringLiteral("goes with wpa-psk or wpa2-psk only"));

  std::optional<QString> key = HexText(wifi, "keyHex", wifi.text("key"));
  const std::optional<QString> keyEnv = wifi.text("keyEnv");
  if (key && keyEnv)
    throw EProfileError(wifi.at("keyEnv"), QStringLiteral("give key or keyEnv, not both"));
  if (security == 0) {
    if ((key && !key->isEmpty()) || keyEnv)
      throw EProfileError(wifi.at(keyEnv ? "keyEnv" : "key"),
                          QStringLiteral("an open network takes no key"));
  } else if (!key && !keyEnv) {
    wifi.need("key", QStringLiteral("give the key, or keyEnv naming the environment variable "
                                    "that holds it"));
  }
  if (keyEnv) {
    static const QRegularExpression name(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!name.match(*keyEnv).hasMatch())
      throw EProfileError(
          wifi.at("keyEnv"),
          QStringLiteral("\"%1\" is not the name of an environment variable").arg(*keyEnv));
    result.keyEnv = *keyEnv;
    if (qEnvironmentVariableIsSet(keyEnv->toLocal8Bit().constData())) {
      key = qEnvironmentVariable(keyEnv->toLocal8Bit().constData());
    } else if (options.requireKeyEnv) {
      throw EProfileError(wifi.at("keyEnv"),
                          QStringLiteral("the environment variable %1 is not set").arg(*keyEnv));
    } else {
      result.keyEnvMissing = true;
      key = QString();
    }
  }
  CheckLength(wifi, keyEnv ? "keyEnv" : "key", key.value_or(QString()));

  if (wpa) {
    settings.security = WifiSecurity::Wpa;
    settings.wpaTypeIndex = security - 1;
    settings.cipherIndex = *cipher;
    settings.wpaKey = key.value_or(QString());
  } else if (security >= 3) {
    settings.security = WifiSecurity::Wep;
    settings.wepTypeIndex = security - 3;
    settings.wepKey = key.value_or(QString());
  } else {
    settings.security = WifiSecurity::Open;
  }
  return result;
}

// --- blackMark ----------------------------------------------------------

ProfileBlackMark ReadBlackMark(const Section &section) {
  section.onlyKeys(Words({"enabled", "pitchMm", "widthMm", "printOffsetMm", "cutOffsetMm"}));
  ProfileBlackMark blackMark;
  blackMark.enabled = section.boolean("enabled");
  blackMark.pitchMm = section.integer("pitchMm", 0, kMaxBlackMarkMm);
  blackMark.widthMm = section.integer("widthMm", 0, kMaxBlackMarkMm);
  blackMark.printOffsetMm = section.integer("printOffsetMm", 0, kMaxBlackMarkMm);
  blackMark.cutOffsetMm = section.integer("cutOffsetMm", 0, kMaxBlackMarkMm);
  return blackMark;
}

// --- logos --------------------------------------------------------------

void ReadLogos(const QJsonValue &value, const QString &baseFolder,
               const ProfileReadOptions &options, Profile &profile) {
  const QString path = QStringLiteral("logos");
  if (!value.isArray())
    throw EProfileError(path, QStringLiteral("must be a list, not %1").arg(KindOf(value)));
  const QJsonArray entries = value.toArray();
  if (entries.size() > LogoSet::kMaxLogos)
    throw EProfileError(path, QStringLiteral("%1 entries; the printer stores at most %2 logos")
                                  .arg(entries.size())
                                  .arg(LogoSet::kMaxLogos));
  QList<ProfileLogo> logos;
  QByteArray data(kLogoCommandBytes, '\0');
  for (qsizetype i = 0; i < entries.size(); ++i) {
    const QString entryPath = At(path, QString::number(i));
    if (!entries[i].isObject())
      throw EProfileError(entryPath, QStringLiteral("must be an object {\"file\": PATH} or "
                                                    "{\"bmp\": BASE64}, not %1")
                                         .arg(KindOf(entries[i])));
    const Section entry(entries[i].toObject(), entryPath);
    entry.onlyKeys(Words({"file", "bmp", "name"}));
    ProfileLogo logo;
    logo.name = entry.text("name").value_or(QString());
    const std::optional<QString> file = entry.text("file");
    const std::optional<QString> bmp = entry.text("bmp");
    if (file.has_value() == bmp.has_value())
      throw EProfileError(entryPath, QStringLiteral("needs exactly one of file and bmp"));
    const qint64 room = kLogoCapacity - data.size();
    LogoPicture picture;
    QString where;
    if (file) {
      if (file->isEmpty())
        throw EProfileError(entry.at("file"), QStringLiteral("is empty"));
      logo.file = *file;
      logo.path = QDir::cleanPath(QDir(baseFolder).absoluteFilePath(*file));
      picture = LogoPicture::Load(logo.path, room);
      where = entry.at("file");
    } else {
      const auto decoded =
          QByteArray::fromBase64Encoding(bmp->toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
      if (!decoded || bmp->isEmpty())
        throw EProfileError(entry.at("bmp"), QStringLiteral("is not base64 text"));
      logo.bmp = *decoded;
      QBuffer buffer(&logo.bmp);
      buffer.open(QIODevice::ReadOnly);
      picture = LogoPicture::Read(buffer, room);
      where = entry.at("bmp");
    }
    switch (picture.fault) {
    case LogoPicture::Fault::None:
      break;
    case LogoPicture::Fault::Missing:
      if (file && options.skipMissingLogos && !QFileInfo::exists(logo.path)) {
        profile.missingLogos << QStringLiteral("%1: %2").arg(where, logo.path);
        continue;
      }
      throw EProfileError(
          where, QStringLiteral("\"%1\" cannot be read: %2").arg(logo.path, picture.reason));
    case LogoPicture::Fault::Invalid:
      throw EProfileError(where, QStringLiteral("Picture invalid: %1").arg(picture.reason));
    case LogoPicture::Fault::TooLarge:
      throw EProfileError(where, QStringLiteral("the logos would take %1 bytes, more than the "
                                                "printer's %2 bytes of logo memory")
                                     .arg(data.size() + picture.recordBytes)
                                     .arg(kLogoCapacity));
    }
    AppendLogoRecord(picture.dots, data);
    logos << logo;
  }
  data[0] = char(0x1C);
  data[1] = char(0x71);
  data[2] = char(logos.size());
  profile.logos = logos;
  profile.logoData = data;
}

// --- connection ---------------------------------------------------------

ProfileConnection ReadConnection(const Section &section) {
  section.onlyKeys(
      Words({"port", "printer", "serialPort", "baudRate", "parity", "host", "tcpPort"}));
  section.need("port", QStringLiteral("one of driver, serial, tcp"));
  ProfileConnection connection;
  connection.port =
      ProfileConnection::Port(*section.word("port", Words({"driver", "serial", "tcp"})));
  connection.printer = section.text("printer");
  connection.serialPort = section.text("serialPort");
  if (const std::optional<int> index =
          section.number("baudRate", {1200, 4800, 9600, 19200, 38400, 57600, 115200}))
    connection.baudRate = QList<int>{1200, 4800, 9600, 19200, 38400, 57600, 115200}[*index];
  connection.parityIndex = section.word("parity", Words({"none", "odd", "even"}));
  connection.host = section.text("host");
  connection.tcpPort = section.integer("tcpPort", 1, 65535);
  return connection;
}

// --- overrides ----------------------------------------------------------

enum class KeyType { Text, Integer, Boolean };

std::optional<KeyType> TypeOfKey(const QString &path) {
  static const QList<QPair<QString, KeyType>> kKeys = {
      {QStringLiteral("name"), KeyType::Text},
      {QStringLiteral("base.baudRate"), KeyType::Integer},
      {QStringLiteral("base.parity"), KeyType::Text},
      {QStringLiteral("base.cutter"), KeyType::Boolean},
      {QStringLiteral("base.buzzer"), KeyType::Boolean},
      {QStringLiteral("base.drawer"), KeyType::Boolean},
      {QStringLiteral("base.charsPerLine"), KeyType::Integer},
      {QStringLiteral("base.density"), KeyType::Text},
      {QStringLiteral("base.codePage"), KeyType::Integer},
      {QStringLiteral("base.codePageName"), KeyType::Text},
      {QStringLiteral("base.font"), KeyType::Text},
      {QStringLiteral("base.reprint"), KeyType::Boolean},
      {QStringLiteral("base.buzzAfterPrinting"), KeyType::Boolean},
      {QStringLiteral("ethernet.ip"), KeyType::Text},
      {QStringLiteral("ethernet.mac"), KeyType::Text},
      {QStringLiteral("ethernet.speed"), KeyType::Text},
      {QStringLiteral("wifi.ssid"), KeyType::Text},
      {QStringLiteral("wifi.ssidHex"), KeyType::Text},
      {QStringLiteral("wifi.security"), KeyType::Text},
      {QStringLiteral("wifi.cipher"), KeyType::Text},
      {QStringLiteral("wifi.key"), KeyType::Text},
      {QStringLiteral("wifi.keyHex"), KeyType::Text},
      {QStringLiteral("wifi.keyEnv"), KeyType::Text},
      {QStringLiteral("blackMark.enabled"), KeyType::Boolean},
      {QStringLiteral("blackMark.pitchMm"), KeyType::Integer},
      {QStringLiteral("blackMark.widthMm"), KeyType::Integer},
      {QStringLiteral("blackMark.printOffsetMm"), KeyType::Integer},
      {QStringLiteral("blackMark.cutOffsetMm"), KeyType::Integer},
      {QStringLiteral("connection.port"), KeyType::Text},
      {QStringLiteral("connection.printer"), KeyType::Text},
      {QStringLiteral("connection.serialPort"), KeyType::Text},
      {QStringLiteral("connection.baudRate"), KeyType::Integer},
      {QStringLiteral("connection.parity"), KeyType::Text},
      {QStringLiteral("connection.host"), KeyType::Text},
      {QStringLiteral("connection.tcpPort"), KeyType::Integer},
  };
  for (const auto &[key, type] : kKeys)
    if (key == path)
      return type;
  return std::nullopt;
}

// The text as the key's type; text that does not read as that type stays
// text, so that the check names it.
QJsonValue OverrideValue(KeyType type, const QString &text) {
  if (type == KeyType::Integer) {
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok)
      return number;
  } else if (type == KeyType::Boolean) {
    const QString word = text.toLower();
    if (word == QLatin1String("true") || word == QLatin1String("on"))
      return true;
    if (word == QLatin1String("false") || word == QLatin1String("off"))
      return false;
  }
  return text;
}

void ApplyOverrides(QJsonObject &root, const QList<ProfileOverride> &overrides) {
  for (const ProfileOverride &o : overrides) {
    const std::optional<KeyType> type = TypeOfKey(o.path);
    if (!type)
      throw EProfileError(o.path, QStringLiteral("is not a key that can be given on its own; "
                                                 "see docs/profile.md"));
    const QJsonValue value = OverrideValue(*type, o.value);
    const qsizetype dot = o.path.indexOf(QLatin1Char('.'));
    if (dot < 0) {
      root.insert(o.path, value);
      continue;
    }
    const QString sectionName = o.path.left(dot);
    const QJsonValue existing = root.value(sectionName);
    if (!existing.isUndefined() && !existing.isNull() && !existing.isObject())
      throw EProfileError(sectionName,
                          QStringLiteral("must be an object, not %1").arg(KindOf(existing)));
    QJsonObject section = existing.toObject();
    section.insert(o.path.mid(dot + 1), value);
    root.insert(sectionName, section);
  }
}

} // namespace

EProfileError::EProfileError(const QString &path, const QString &reason)
    : Exception(path.isEmpty() ? reason : path + QStringLiteral(": ") + reason), path_(path),
      reason_(reason) {}

QString ProfileLogo::displayName() const {
  if (!name.isEmpty())
    return name;
  return file.isEmpty() ? QString() : QFileInfo(file).fileName();
}

Profile ParseProfile(const QByteArray &json, const QString &baseFolder,
                     const QList<ProfileOverride> &overrides, const ProfileReadOptions &options) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError)
    throw EProfileError(
        QString(),
        QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset));
  if (!document.isObject())
    throw EProfileError(QString(), QStringLiteral("a profile is a JSON object {...}"));
  QJsonObject root = document.object();
  const Section top(root, QString());
  top.onlyKeys(Words(
      {"pellicarProfile", "name", "base", "ethernet", "wifi", "blackMark", "logos", "connection"}));
  const QJsonValue version = root.value(QStringLiteral("pellicarProfile"));
  if (version.isUndefined())
    throw EProfileError(QStringLiteral("pellicarProfile"),
                        QStringLiteral("missing; a profile begins with \"pellicarProfile\": %1")
                            .arg(kProfileVersion));
  if (!version.isDouble() || version.toDouble() != kProfileVersion)
    throw EProfileError(QStringLiteral("pellicarProfile"),
                        QStringLiteral("version %1 is not one this program reads (%2)")
                            .arg(Shown(version))
                            .arg(kProfileVersion));
  ApplyOverrides(root, overrides);
  const Section checked(root, QString());

  Profile profile;
  profile.name = checked.text("name").value_or(QString());
  if (checked.has("base"))
    profile.base = ReadBase(checked.object("base"));
  if (checked.has("ethernet"))
    ReadEthernet(checked.object("ethernet"), profile);
  if (checked.has("wifi"))
    profile.wifi = ReadWifi(checked.object("wifi"), options);
  if (checked.has("blackMark"))
    profile.blackMark = ReadBlackMark(checked.object("blackMark"));
  if (checked.has("logos"))
    ReadLogos(root.value(QStringLiteral("logos")), baseFolder, options, profile);
  if (checked.has("connection"))
    profile.connection = ReadConnection(checked.object("connection"));
  return profile;
}

Profile ReadProfileFile(const QString &path, const QList<ProfileOverride> &overrides,
                        const ProfileReadOptions &options) {
  QFile file(path);
  // A profile is a few kilobytes; 65539 bytes of logos in base64 is under
  // 100 KiB. Reading is bounded so that a wrong path (a device, a huge
  // file) cannot take the memory.
  constexpr qint64 kMaxProfileBytes = 16 * 1024 * 1024;
  const QFileInfo info(path);
  if (!info.exists())
    throw EProfileError(QString(), QStringLiteral("%1: there is no such file").arg(path));
  if (!info.isFile())
    throw EProfileError(QString(), QStringLiteral("%1: not a regular file").arg(path));
  if (!file.open(QIODevice::ReadOnly))
    throw EProfileError(QString(),
                        QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString()));
  const QByteArray bytes = file.read(kMaxProfileBytes + 1);
  if (bytes.size() > kMaxProfileBytes)
    throw EProfileError(QString(), QStringLiteral("%1: larger than %2 bytes, too large for a "
                                                  "profile")
                                       .arg(path)
                                       .arg(kMaxProfileBytes));
  return ParseProfile(bytes, QFileInfo(path).absolutePath(), overrides, options);
}

} // namespace pellicar
