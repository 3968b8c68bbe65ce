#include "emulation/virtual_printer.h"

#include "commands/base_commands.h"
#include "commands/code_page_table.h"
#include "commands/ethernet_commands.h"
#include "commands/wifi_commands.h"
#include "emulation/paper_picture.h"
#include "logo/logo_raster.h"

#include <QJsonValue>

#include <algorithm>
#include <utility>

namespace pellicar {

namespace {

QString Hex(std::uint8_t byte) { return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')); }

QString HexBytes(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

// An item of one of the window's lists, by the index the printer received;
// nothing when the list has no such item.
template <std::size_t N>
std::optional<QString> Item(const std::array<const char *, N> &items, std::uint8_t index) {
  if (index >= N)
    return std::nullopt;
  return QString::fromUtf8(items[index]);
}

// The three device bytes of the base parameters: 00 on, 01 off.
struct DeviceFlag {
  QString words;
  QJsonValue json;
};

DeviceFlag Device(const char *name, std::uint8_t value) {
  const QString device = QString::fromLatin1(name);
  if (value == 0)
    return {device + QStringLiteral(" on"), true};
  if (value == 1)
    return {device + QStringLiteral(" off"), false};
  return {QStringLiteral("%1 %2 (unknown)").arg(device).arg(value), int(value)};
}

// A switch byte: 01 on, 00 off.
DeviceFlag OnOff(std::uint8_t value) {
  if (value <= 1)
    return {value == 1 ? QStringLiteral("on") : QStringLiteral("off"), value == 1};
  return {QStringLiteral("%1 (unknown)").arg(value), int(value)};
}

QString Dots(std::uint16_t dots) {
  const QString millimetres =
      dots % 8 == 0 ? QString::number(dots / 8) : QString::number(dots / 8.0, 'f', 3);
  return QStringLiteral("%1 dots (%2 mm)").arg(dots).arg(millimetres);
}

QString Quoted(const QByteArray &bytes) {
  return QLatin1Char('"') + EscapedText(bytes) + QLatin1Char('"');
}

// The bytes as text when the text gives them back exactly (valid UTF-8,
// no leading byte-order mark, which decoding drops); otherwise the text
// is only an approximation and the hex field holds them.
// Sets `key` to the bytes in hexadecimal when their text (`text`, read as
// UTF-8) does not give them back exactly, and leaves it out otherwise, so
// that a state whose text is exact reads as a profile as it stands.
void SetExactHex(QJsonObject &state, const QString &key, const QByteArray &bytes) {
  if (QString::fromUtf8(bytes).toUtf8() == bytes)
    state.remove(key);
  else
    state[key] = QString::fromLatin1(bytes.toHex());
}

const char *const kStatusRequestNames[] = {"printer status", "offline cause", "error cause",
                                           "paper sensor"};

} // namespace

QString EscapedText(QByteArrayView bytes) {
  QString text;
  const auto escape = [&](std::uint8_t byte) { text += QStringLiteral("\\x") + Hex(byte); };
  for (qsizetype at = 0; at < bytes.size();) {
    const auto byte = std::uint8_t(bytes[at]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F)
        escape(byte);
      else if (byte == '\\' || byte == '"')
        text += QStringLiteral("\\") + QLatin1Char(char(byte));
      else
        text += QLatin1Char(char(byte));
      ++at;
      continue;
    }
    // One UTF-8 sequence, taken only when it is well formed (shortest
    // form, no surrogate, at most U+10FFFF) and shows a printable
    // character: C1 controls and the line and paragraph separators would
    // move a terminal's cursor as well as the control bytes do.
    const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
    if (length > 0 && at + length <= bytes.size()) {
      const QByteArrayView sequence = bytes.sliced(at, length);
      const QString decoded = QString::fromUtf8(sequence);
      const QList<uint> points = decoded.toUcs4();
      const auto category =
          points.size() == 1 ? QChar::category(char32_t(points[0])) : QChar::Other_NotAssigned;
      const bool shown = category != QChar::Other_Control && category != QChar::Other_Format &&
                         category != QChar::Separator_Line &&
                         category != QChar::Separator_Paragraph &&
                         category != QChar::Other_NotAssigned;
      if (shown && points[0] != 0xFFFD && decoded.toUtf8() == sequence) {
        text += decoded;
        at += length;
        continue;
      }
    }
    escape(byte);
    ++at;
  }
  return text;
}

QString GroupedNumber(qint64 value) {
  QString digits = QString::number(value < 0 ? -value : value);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
    digits.insert(at, QLatin1Char(','));
  return value < 0 ? QLatin1Char('-') + digits : digits;
}

VirtualPrinter::VirtualPrinter(VirtualPrinterOptions options) : options_(std::move(options)) {}

bool VirtualPrinter::TakeChanged() { return std::exchange(changed_, false); }

void VirtualPrinter::log(const QString &line) {
  ++commands_;
  note(line);
}

void VirtualPrinter::note(const QString &line) {
  changed_ = true;
  if (onLog)
    onLog(line);
}

void VirtualPrinter::setting(Setting which, const QString &line) {
  settings_[which] = line;
  log(line);
}

int VirtualPrinter::charsPerLine() const {
  const QJsonValue chars = state_.base.value(QStringLiteral("charsPerLine"));
  return chars.toInt() == 40 ? 40 : 48;
}

void VirtualPrinter::OnBytesReceived(qint64 count) { state_.counters.bytesReceived += count; }

void VirtualPrinter::OnBaseParameters(const BaseParameterBytes &bytes) {
  QJsonObject &base = state_.base;
  QStringList words;
  // A value picked from one of the window's lists: the item as the state
  // shows it (`value` of the item's text) and in words; an index the list
  // does not have stays a number.
  const auto listed = [&](const char *key, const std::optional<QString> &item, std::uint8_t index,
                          QJsonValue (*value)(const QString &), const char *known,
                          const char *unknown) {
    const QString name = QString::fromLatin1(key);
    if (item) {
      base[name] = value(*item);
      words << QString::fromLatin1(known).arg(value(*item).toVariant().toString());
    } else {
      base[name] = index;
      words << QString::fromLatin1(unknown).arg(index) + QStringLiteral(" (unknown)");
    }
  };
  const auto number = [](const QString &item) { return QJsonValue(item.toInt()); };
  const auto lower = [](const QString &item) { return QJsonValue(item.toLower()); };
  const auto letter = [](const QString &item) { return QJsonValue(item.right(1)); };

  listed("baudRate", Item(kPrinterBaudRateItems, bytes.baudIndex), bytes.baudIndex, number,
         "%1 baud", "baud index %1");
  listed("parity", Item(kPrinterParityItems, bytes.parityIndex), bytes.parityIndex, lower,
         "parity %1", "parity %1");
  const std::pair<const char *, std::uint8_t> devices[] = {
      {"cutter", bytes.cutter}, {"buzzer", bytes.buzzer}, {"drawer", bytes.drawer}};
  for (const auto &[name, value] : devices) {
    const DeviceFlag flag = Device(name, value);
    base[QString::fromLatin1(name)] = flag.json;
    words << flag.words;
  }
  listed("charsPerLine", Item(kCharsPerLineItems, bytes.charsPerLineIndex), bytes.charsPerLineIndex,
         number, "%1 characters per line", "characters per line index %1");
  listed("density", Item(kDensityItems, bytes.densityIndex), bytes.densityIndex, lower,
         "density %1", "density %1");
  base[QStringLiteral("codePage")] = bytes.codePage;
  base[QStringLiteral("codePageName")] = QJsonValue::Null;
  QString codePage = QStringLiteral("code page %1 (unknown)").arg(bytes.codePage);
  for (const CodePage &row : kCodePages) {
    if (row.number == bytes.codePage) {
      base[QStringLiteral("codePageName")] = row.displayName();
      codePage = QStringLiteral("code page %1 (%2)").arg(bytes.codePage).arg(row.displayName());
      break;
    }
  }
  words << codePage;
  listed("font", Item(kFontItems, bytes.fontIndex), bytes.fontIndex, letter, "font %1", "font %1");
  setting(kBase, QStringLiteral("Base Parameter: ") + words.join(QStringLiteral(", ")));
}

void VirtualPrinter::OnSwitch(PrinterSwitch which, std::uint8_t value) {
  const DeviceFlag flag = OnOff(value);
  if (which == PrinterSwitch::Reprint) {
    state_.base[QStringLiteral("reprint")] = flag.json;
    setting(kReprint, QStringLiteral("Auto Reprint: ") + flag.words);
  } else {
    state_.base[QStringLiteral("buzzAfterPrinting")] = flag.json;
    setting(kBuzzAfterPrinting, QStringLiteral("Buzz After Printing: ") + flag.words);
  }
}

void VirtualPrinter::OnSetIp(const std::array<std::uint8_t, 4> &address) {
  const QString ip =
      QStringLiteral("%1.%2.%3.%4").arg(address[0]).arg(address[1]).arg(address[2]).arg(address[3]);
  state_.ethernet[QStringLiteral("ip")] = ip;
  setting(kIp, QStringLiteral("Set IP: ") + ip);
}

void VirtualPrinter::OnSetMac(const std::array<std::uint8_t, 6> &address) {
  QStringList pairs;
  for (std::uint8_t byte : address)
    pairs << Hex(byte);
  const QString mac = pairs.join(QLatin1Char(':'));
  state_.ethernet[QStringLiteral("mac")] = mac;
  setting(kMac, QStringLiteral("Set MAC: ") + mac);
}

void VirtualPrinter::OnSetSpeed(const std::array<std::uint8_t, 3> &speed) {
  const auto known = std::find(kLinkSpeedCodes.begin(), kLinkSpeedCodes.end(), speed);
  if (known != kLinkSpeedCodes.end()) {
    const QString name =
        QString::fromUtf8(kLinkSpeedItems[std::size_t(known - kLinkSpeedCodes.begin())]);
    state_.ethernet[QStringLiteral("speed")] = name;
    setting(kSpeed, QStringLiteral("Set Speed: ") + name);
  } else {
    state_.ethernet[QStringLiteral("speed")] = speed[0] << 16 | speed[1] << 8 | speed[2];
    setting(kSpeed, QStringLiteral("Set Speed: %1 %2 %3 (unknown)")
                        .arg(Hex(speed[0]), Hex(speed[1]), Hex(speed[2])));
  }
}

void VirtualPrinter::OnSetWifi(const WifiBytes &wifi) {
  QJsonObject &state = state_.wifi;
  QStringList words{QStringLiteral("SSID ") + Quoted(wifi.ssid)};
  QJsonValue security;
  bool open = false;
  QJsonValue cipher = QJsonValue::Null;
  const std::uint8_t a = wifi.authentication;
  const std::uint8_t b = wifi.mode;
  if (a == 2 || a == 3) {
    const QString type = QString::fromUtf8(kWpaTypeItems[a - 2]);
    security = type.toLower();
    words << type;
    if (b == 0 || b == 1) {
      // The window's list calls TKIP "TPIK".
      cipher = b == 0 ? QStringLiteral("tkip") : QStringLiteral("aes");
      words << cipher.toString().toUpper();
    } else {
      cipher = int(b);
      words << QStringLiteral("cipher %1 (unknown)").arg(b);
    }
  } else if (a == 0 && b == 0) {
    security = QStringLiteral("open");
    open = true;
    words << QStringLiteral("open");
  } else if ((a == 0 && b == 1) || (a == 1 && b == 0)) {
    const QString type = QString::fromUtf8(kWepTypeItems[a]).toLower();
    security = QStringLiteral("wep-") + type;
    words << QStringLiteral("WEP ") + type;
  } else {
    security = a << 8 | b;
    words << QStringLiteral("security %1 %2 (unknown)").arg(Hex(a), Hex(b));
  }
  if (!wifi.key.isEmpty() || !open)
    words << QStringLiteral("key ") + Quoted(wifi.key);
  state[QStringLiteral("ssid")] = QString::fromUtf8(wifi.ssid);
  SetExactHex(state, QStringLiteral("ssidHex"), wifi.ssid);
  state[QStringLiteral("security")] = security;
  state[QStringLiteral("cipher")] = cipher;
  state[QStringLiteral("key")] = QString::fromUtf8(wifi.key);
  SetExactHex(state, QStringLiteral("keyHex"), wifi.key);
  setting(kWifi, QStringLiteral("Set WIFI: ") + words.join(QStringLiteral(", ")));
}

void VirtualPrinter::OnBlackMarkMode(std::uint8_t mode) {
  const QString enabled = QStringLiteral("enabled");
  if (mode == 0x44 || mode == 0x66) {
    state_.blackMark[enabled] = mode == 0x44;
    setting(kBlackMark,
            mode == 0x44 ? QStringLiteral("Black Mark: on") : QStringLiteral("Black Mark: off"));
  } else {
    state_.blackMark[enabled] = int(mode);
    setting(kBlackMark, QStringLiteral("Black Mark: mode %1 (unknown)").arg(mode));
  }
}

void VirtualPrinter::OnBlackMarkDistance(BlackMarkDistanceKind kind, std::uint16_t dots) {
  if (kind == BlackMarkDistanceKind::Pitch) {
    state_.blackMark[QStringLiteral("pitchDots")] = dots;
    setting(kPitch, QStringLiteral("Set BM Length: ") + Dots(dots));
  } else {
    state_.blackMark[QStringLiteral("widthDots")] = dots;
    setting(kWidth, QStringLiteral("Set BM Width: ") + Dots(dots));
  }
}

void VirtualPrinter::OnMarkOffset(MarkOffsetKind kind, std::uint8_t direction, std::uint16_t dots) {
  // Backward adjustments are kept as negative distances.
  const int signedDots = direction == 1 ? -int(dots) : int(dots);
  const QString words = Dots(dots) + (direction == 1 ? QStringLiteral(" backward") : QString());
  if (kind == MarkOffsetKind::PrintStart) {
    state_.blackMark[QStringLiteral("printOffsetDots")] = signedDots;
    setting(kPrintOffset, QStringLiteral("Set BM Print Offset: ") + words);
  } else {
    state_.blackMark[QStringLiteral("cutOffsetDots")] = signedDots;
    setting(kCutOffset, QStringLiteral("Set BM Cut Offset: ") + words);
  }
}

void VirtualPrinter::OnText(const QByteArray &text) {
  const qsizetype room = kMaxLineChars - line_.size();
  line_.append(text.left(room));
  lineChars_ += text.size();
}

void VirtualPrinter::endLine() {
  const QString text = QString::fromLatin1(line_);
  const int width = charsPerLine();
  QStringList printed;
  for (qsizetype at = 0; at < text.size() || printed.isEmpty(); at += width)
    printed << text.mid(at, width);
  for (const QString &line : printed) {
    if (pageLines_.size() < kMaxPageLines)
      pageLines_ << line;
    else
      ++droppedLines_;
  }
  line_.clear();
  lineChars_ = 0;
}

void VirtualPrinter::OnLineFeed() {
  if (line_.isEmpty()) {
    log(QStringLiteral("Line feed"));
  } else if (lineChars_ > line_.size()) {
    log(QStringLiteral("Line: %1... (%2 characters, the first %3 kept)")
            .arg(Quoted(line_), GroupedNumber(lineChars_), GroupedNumber(line_.size())));
  } else {
    log(QStringLiteral("Line: ") + Quoted(line_));
  }
  endLine();
}

QString VirtualPrinter::nextPage(const QImage &picture) {
  ++pages_;
  const QString name = QStringLiteral("page-%1.png").arg(pages_);
  if (!options_.pictures)
    return QStringLiteral("page %1").arg(pages_);
  if (onPicture)
    onPicture(name, picture);
  if (pages_ <= options_.keptPages)
    return QStringLiteral("page %1 (%2)").arg(pages_).arg(name);
  const QString removed = QStringLiteral("page-%1.png").arg(pages_ - options_.keptPages);
  if (onPicture)
    onPicture(removed, QImage());
  return QStringLiteral("page %1 (%2; %3 removed, the last %4 pages are kept)")
      .arg(pages_)
      .arg(name, removed)
      .arg(options_.keptPages);
}

QString VirtualPrinter::printPage() {
  if (!line_.isEmpty())
    endLine();
  if (pageLines_.isEmpty())
    return {};
  QString dropped;
  if (droppedLines_ > 0)
    dropped = QStringLiteral(", %1 more lines not drawn (a page holds %2)")
                  .arg(GroupedNumber(droppedLines_), GroupedNumber(kMaxPageLines));
  const QImage picture = options_.pictures ? PagePicture(pageLines_, charsPerLine()) : QImage();
  const QString page = nextPage(picture);
  pageLines_.clear();
  droppedLines_ = 0;
  return QStringLiteral(", printed ") + page + dropped;
}

void VirtualPrinter::OnFormFeed() {
  ++state_.counters.formFeeds;
  log(QStringLiteral("Form feed") + printPage());
}

void VirtualPrinter::OnCut(std::uint8_t mode, std::optional<std::uint8_t> feed) {
  ++state_.counters.cuts;
  const bool partial = mode == 1 || mode == 49 || mode == 66;
  QString words = partial ? QStringLiteral("Cut: partial") : QStringLiteral("Cut: full");
  if (feed)
    words += QStringLiteral(" after a feed of %1").arg(*feed);
  log(words + printPage());
}

void VirtualPrinter::OnSelfTest() {
  ++state_.counters.selfTests;
  const int width = charsPerLine();
  const QString rule(width, QLatin1Char('-'));
  QStringList lines{QStringLiteral("SELF-TEST")};
  if (!options_.identity.isEmpty())
    lines << options_.identity;
  lines << QStringLiteral("Status: ") + PrinterStatusName(options_.status) << rule;
  // Each setting as its log tells it; one of several values ("Base
  // Parameter: 19200 baud, parity none, ...") a value a line.
  bool any = false;
  for (const QString &line : settings_) {
    if (line.isEmpty())
      continue;
    any = true;
    const qsizetype colon = line.indexOf(QStringLiteral(": "));
    const QStringList values = line.mid(colon + 2).split(QStringLiteral(", "));
    if (colon < 0 || values.size() < 2) {
      lines << WrapText(line, width);
      continue;
    }
    lines << line.left(colon + 1);
    for (const QString &value : values)
      for (const QString &part : WrapText(value, width - 2))
        lines << QStringLiteral("  ") + part;
  }
  if (!any)
    lines << QStringLiteral("No settings received yet.");
  lines << rule << QStringLiteral("Stored logos: %1").arg(state_.logos ? state_.logos->size() : 0);
  QImage picture;
  if (options_.pictures)
    picture = PagePicture(lines, width, logoPictures_, logoCaptions_);
  log(QStringLiteral("SelfTest: printed ") + nextPage(picture));
}

void VirtualPrinter::OnLogos(const LogoDownload &logos) {
  if (!logos.complete) {
    log(QStringLiteral("Logos not stored: the data ended after %1 bytes, within record %2 of %3")
            .arg(GroupedNumber(logos.bytes))
            .arg(std::min<qsizetype>(logos.records.size() + (logos.tooLarge ? 1 : 0),
                                     logos.declaredCount))
            .arg(logos.declaredCount));
    return;
  }
  if (logos.tooLarge) {
    log(QStringLiteral("Logos refused: %1 bytes declared, more than the logo memory of %2 bytes")
            .arg(GroupedNumber(logos.declaredBytes), GroupedNumber(kLogoCapacity)));
    return;
  }
  const qsizetype before = logoPictures_.size();
  logoPictures_.clear();
  logoCaptions_.clear();
  QJsonArray stored;
  for (qsizetype i = 0; i < logos.records.size(); ++i) {
    const LogoImageRecord &record = logos.records[i];
    const QString name = QStringLiteral("logo-%1.png").arg(i + 1);
    const bool drawn = options_.pictures && record.x > 0 && record.y > 0;
    stored.append(QJsonObject{{QStringLiteral("widthDots"), 8 * record.x},
                              {QStringLiteral("heightDots"), 8 * record.y},
                              {QStringLiteral("rasterBytes"), record.raster.size()},
                              {QStringLiteral("png"), drawn ? QJsonValue(name) : QJsonValue()}});
    if (!options_.pictures)
      continue;
    const QImage picture = LogoPicture(record.x, record.y, record.raster);
    logoPictures_ << picture;
    logoCaptions_
        << QStringLiteral("Logo %1: %2 x %3 dots").arg(i + 1).arg(8 * record.x).arg(8 * record.y);
    if (onPicture)
      onPicture(name, picture);
  }
  if (onPicture)
    for (qsizetype i = logoPictures_.size(); i < before; ++i)
      onPicture(QStringLiteral("logo-%1.png").arg(i + 1), QImage());
  state_.logos = stored;
  log(QStringLiteral("Logos stored: %1 (%2 bytes)")
          .arg(logos.records.size())
          .arg(GroupedNumber(logos.bytes)));
}

void VirtualPrinter::OnFirmware(const FirmwareUpload &upload) {
  QString check;
  QString size;
  if (!upload.complete) {
    check = QStringLiteral("failed: the data ended early");
    size = QStringLiteral("%1 of %2 bytes")
               .arg(GroupedNumber(upload.receivedBytes), GroupedNumber(upload.declaredBytes));
  } else {
    check = upload.verdict == FirmwareVerdict::Valid
                ? QStringLiteral("passed")
                : QStringLiteral("failed: ") + DescribeFirmwareVerdict(upload.verdict);
    size = GroupedNumber(upload.declaredBytes) + QStringLiteral(" bytes");
  }
  state_.firmware[QStringLiteral("bytes")] = upload.receivedBytes;
  state_.firmware[QStringLiteral("check")] = check;
  setting(kFirmware, QStringLiteral("Firmware upload: %1, check %2").arg(size, check));
}

void VirtualPrinter::OnStatusRequest(int n) {
  ++state_.counters.statusRequests;
  const std::uint8_t answer = StatusAnswer(options_.status, n);
  if (onAnswer)
    onAnswer(QByteArray(1, char(answer)));
  log(QStringLiteral("Status request %1 (%2): answered %3")
          .arg(n)
          .arg(QLatin1String(kStatusRequestNames[n - 1]))
          .arg(Hex(answer)));
}

void VirtualPrinter::OnUnknown(const QByteArray &shown, qint64 count, bool cutShort) {
  state_.counters.unknownBytes += count;
  const QString more = count > shown.size() ? QStringLiteral(" ...") : QString();
  if (cutShort)
    note(QStringLiteral("Incomplete command at the end of the data (%1 bytes): %2%3")
             .arg(GroupedNumber(count), HexBytes(shown), more));
  else
    note(QStringLiteral("Unknown bytes (%1): %2%3")
             .arg(GroupedNumber(count), HexBytes(shown), more));
}

} // namespace pellicar
