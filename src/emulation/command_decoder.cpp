#include "emulation/command_decoder.h"

#include "logo/logo_raster.h"

#include <algorithm>
#include <utility>

namespace pellicar {

namespace {

constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kFormFeed = 0x0C;
constexpr std::uint8_t kDc2 = 0x12;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kFs = 0x1C;
constexpr std::uint8_t kGs = 0x1D;
constexpr std::uint8_t kUs = 0x1F; // the printer's own set-up commands
constexpr std::uint8_t kEsc = 0x1B;

bool IsText(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

// The printer's set-up commands of a fixed length, 1F c ...: how many
// bytes one takes, all of which must be there before it is decoded. The
// Wi-Fi and black-mark commands, whose length depends on what they carry,
// are not listed.
struct FixedLength {
  std::uint8_t opcode;
  qsizetype length;
};
constexpr FixedLength kFixedLengths[] = {
    {'s', 11}, // base parameters: nine values
    {'r', 3},  // automatic reprint on or off
    {'t', 3},  // buzz after printing on or off
    {'i', 6},  // IP address
    {'m', 8},  // MAC address
    {'p', 5},  // link speed: three bytes
    {'u', 6},  // firmware upload: four length bytes, then the image
};

qsizetype FixedLengthOf(std::uint8_t opcode) {
  for (const FixedLength &command : kFixedLengths)
    if (command.opcode == opcode)
      return command.length;
  return 0;
}

} // namespace

CommandDecoder::CommandDecoder(CommandListener &listener) : listener_(listener) {}

void CommandDecoder::Feed(QByteArrayView bytes) {
  if (bytes.isEmpty())
    return;
  listener_.OnBytesReceived(bytes.size());
  feed(bytes);
}

void CommandDecoder::feed(QByteArrayView bytes) {
  while (!bytes.isEmpty()) {
    if (mode_ == Mode::Logos) {
      consumeLogos(bytes);
      continue;
    }
    if (mode_ == Mode::Firmware) {
      consumeFirmware(bytes);
      continue;
    }
    pending_.append(bytes.front());
    bytes = bytes.sliced(1);
    decodePending();
  }
}

void CommandDecoder::decodePending() {
  while (!pending_.isEmpty()) {
    if (mode_ != Mode::Commands) {
      // A command that streams its data began inside bytes that were held
      // back; what follows it is its data.
      const QByteArray rest = std::exchange(pending_, {});
      feed(rest);
      return;
    }
    qsizetype length = 0;
    switch (match(length)) {
    case Match::NeedMore:
      return;
    case Match::NoMatch:
      addUnknown(pending_.front());
      pending_.remove(0, 1);
      break;
    case Match::Complete:
      pending_.remove(0, length);
      break;
    }
  }
}

CommandDecoder::Match CommandDecoder::match(qsizetype &length) {
  const auto *p = reinterpret_cast<const std::uint8_t *>(pending_.constData());
  const qsizetype n = pending_.size();
  const std::uint8_t first = p[0];

  if (IsText(first)) {
    addText(char(first));
    length = 1;
    return Match::Complete;
  }
  // Reports a whole command: the runs before it first.
  const auto complete = [&](qsizetype size) {
    flushRuns();
    length = size;
    return Match::Complete;
  };

  switch (first) {
  case kLineFeed:
    flushRuns();
    listener_.OnLineFeed();
    length = 1;
    return Match::Complete;
  case kFormFeed:
    flushRuns();
    listener_.OnFormFeed();
    length = 1;
    return Match::Complete;
  case kDc2: // DC2 T: self-test
    if (n < 2)
      return Match::NeedMore;
    if (p[1] != 'T')
      return Match::NoMatch;
    flushRuns();
    listener_.OnSelfTest();
    length = 2;
    return Match::Complete;
  case kDle: // DLE EOT n: real-time status
    if (n < 2)
      return Match::NeedMore;
    if (p[1] != kEot)
      return Match::NoMatch;
    if (n < 3)
      return Match::NeedMore;
    if (p[2] < 1 || p[2] > 4)
      return Match::NoMatch;
    flushRuns();
    listener_.OnStatusRequest(p[2]);
    length = 3;
    return Match::Complete;
  case kFs: // FS q n: define the logo images
    if (n < 2)
      return Match::NeedMore;
    if (p[1] != 'q')
      return Match::NoMatch;
    if (n < 3)
      return Match::NeedMore;
    flushRuns();
    logos_ = LogoStream{};
    logos_.count = p[2];
    logos_.download.declaredCount = p[2];
    logos_.download.bytes = kLogoCommandBytes;
    mode_ = Mode::Logos;
    if (logos_.count == 0)
      finishLogos(true);
    length = 3;
    return Match::Complete;
  case kGs:
    if (n < 2)
      return Match::NeedMore;
    if (p[1] == 'V') { // GS V: cut
      if (n < 3)
        return Match::NeedMore;
      const std::uint8_t mode = p[2];
      if (mode == 0 || mode == 1 || mode == 48 || mode == 49) {
        complete(3);
        listener_.OnCut(mode, std::nullopt);
        return Match::Complete;
      }
      if (mode != 65 && mode != 66)
        return Match::NoMatch;
      if (n < 4)
        return Match::NeedMore;
      complete(4);
      listener_.OnCut(mode, p[3]);
      return Match::Complete;
    }
    if (p[1] == '(') { // GS ( F 04 00 a m nL nH: print start and cut positions
      static constexpr std::uint8_t kHead[] = {kGs, '(', 'F', 4, 0};
      for (qsizetype i = 2; i < qsizetype(sizeof kHead); ++i) {
        if (n <= i)
          return Match::NeedMore;
        if (p[i] != kHead[i])
          return Match::NoMatch;
      }
      if (n < 6)
        return Match::NeedMore;
      if (p[5] != 1 && p[5] != 2)
        return Match::NoMatch;
      if (n < 7)
        return Match::NeedMore;
      if (p[6] > 1)
        return Match::NoMatch;
      if (n < 9)
        return Match::NeedMore;
      complete(9);
      listener_.OnMarkOffset(p[5] == 1 ? MarkOffsetKind::PrintStart : MarkOffsetKind::Cut, p[6],
                             std::uint16_t(p[7] | p[8] << 8));
      return Match::Complete;
    }
    return Match::NoMatch;
  case kUs:
    break;
  default:
    return Match::NoMatch;
  }

  // The printer's own commands, 1F c ...
  if (n < 2)
    return Match::NeedMore;
  const qsizetype fixed = FixedLengthOf(p[1]);
  if (n < fixed)
    return Match::NeedMore;
  switch (p[1]) {
  case 's':
    complete(fixed);
    listener_.OnBaseParameters(
        BaseParameterBytes{p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10]});
    return Match::Complete;
  case 'r':
  case 't':
    complete(fixed);
    listener_.OnSwitch(p[1] == 'r' ? PrinterSwitch::Reprint : PrinterSwitch::BuzzAfterPrinting,
                       p[2]);
    return Match::Complete;
  case 'i':
    complete(fixed);
    listener_.OnSetIp({p[2], p[3], p[4], p[5]});
    return Match::Complete;
  case 'm':
    complete(fixed);
    listener_.OnSetMac({p[2], p[3], p[4], p[5], p[6], p[7]});
    return Match::Complete;
  case 'p':
    complete(fixed);
    listener_.OnSetSpeed({p[2], p[3], p[4]});
    return Match::Complete;
  case 'w': {
    if (n < 3)
      return Match::NeedMore;
    const qsizetype ssidLength = p[2];
    if (n < 6 + ssidLength)
      return Match::NeedMore;
    const qsizetype keyLength = p[5 + ssidLength];
    if (n < 6 + ssidLength + keyLength)
      return Match::NeedMore;
    WifiBytes wifi;
    wifi.ssid = pending_.mid(3, ssidLength);
    wifi.authentication = p[3 + ssidLength];
    wifi.mode = p[4 + ssidLength];
    wifi.key = pending_.mid(6 + ssidLength, keyLength);
    complete(6 + ssidLength + keyLength);
    listener_.OnSetWifi(wifi);
    return Match::Complete;
  }
  case 'u': {
    complete(fixed);
    firmware_ = FirmwareStream{};
    firmware_.upload.declaredBytes = qint64(std::uint32_t(p[2]) << 24 | std::uint32_t(p[3]) << 16 |
                                            std::uint32_t(p[4]) << 8 | std::uint32_t(p[5]));
    mode_ = Mode::Firmware;
    if (firmware_.upload.declaredBytes == 0)
      finishFirmware(true);
    return Match::Complete;
  }
  case kEsc: { // 1F 1B 1F f 04 05 06 ...: black-mark paper
    static constexpr std::uint8_t kHead[] = {kUs, kEsc, kUs};
    static constexpr std::uint8_t kFixed[] = {4, 5, 6};
    if (n < 3)
      return Match::NeedMore;
    if (p[2] != kHead[2])
      return Match::NoMatch;
    if (n < 4)
      return Match::NeedMore;
    const std::uint8_t function = p[3];
    if (function < 0x80 || function > 0x82)
      return Match::NoMatch;
    for (qsizetype i = 0; i < 3; ++i) {
      if (n < 5 + i)
        return Match::NeedMore;
      if (p[4 + i] != kFixed[i])
        return Match::NoMatch;
    }
    if (function == 0x80) {
      if (n < 8)
        return Match::NeedMore;
      complete(8);
      listener_.OnBlackMarkMode(p[7]);
      return Match::Complete;
    }
    if (n < 9)
      return Match::NeedMore;
    complete(9);
    listener_.OnBlackMarkDistance(function == 0x81 ? BlackMarkDistanceKind::Pitch
                                                   : BlackMarkDistanceKind::Width,
                                  std::uint16_t(p[7] << 8 | p[8]));
    return Match::Complete;
  }
  default:
    return Match::NoMatch;
  }
}

void CommandDecoder::consumeLogos(QByteArrayView &bytes) {
  LogoDownload &download = logos_.download;
  while (!bytes.isEmpty() && mode_ == Mode::Logos) {
    if (logos_.headerHave < 4) {
      logos_.header[logos_.headerHave++] = std::uint8_t(bytes.front());
      bytes = bytes.sliced(1);
      ++download.bytes;
      if (logos_.headerHave == 4)
        startLogoRecord();
      continue;
    }
    const qsizetype take = qsizetype(std::min<qint64>(logos_.rasterLeft, bytes.size()));
    if (!download.tooLarge)
      download.records.back().raster.append(bytes.first(take));
    bytes = bytes.sliced(take);
    download.bytes += take;
    logos_.rasterLeft -= take;
    if (logos_.rasterLeft == 0)
      endLogoRecord();
  }
}

void CommandDecoder::startLogoRecord() {
  LogoDownload &download = logos_.download;
  const int x = logos_.header[0] | logos_.header[1] << 8;
  const int y = logos_.header[2] | logos_.header[3] << 8;
  const qint64 raster = qint64(8) * x * y;
  logos_.rasterLeft = raster;
  if (!download.tooLarge && download.bytes + raster > kLogoCapacity) {
    // Kept no further: the rest is read past, counted, and dropped.
    download.tooLarge = true;
    download.declaredBytes = download.bytes + raster;
    download.records.clear();
    download.records.squeeze();
  }
  if (!download.tooLarge) {
    LogoImageRecord record;
    record.x = x;
    record.y = y;
    record.raster.reserve(qsizetype(raster));
    download.records.append(std::move(record));
  }
  if (raster == 0)
    endLogoRecord();
}

void CommandDecoder::endLogoRecord() {
  logos_.headerHave = 0;
  if (++logos_.index == logos_.count)
    finishLogos(true);
}

void CommandDecoder::finishLogos(bool complete) {
  logos_.download.complete = complete;
  mode_ = Mode::Commands;
  const LogoDownload download = std::exchange(logos_, LogoStream{}).download;
  listener_.OnLogos(download);
}

void CommandDecoder::consumeFirmware(QByteArrayView &bytes) {
  FirmwareUpload &upload = firmware_.upload;
  const qint64 wordBytes = upload.declaredBytes & ~qint64(3);
  const qsizetype take =
      qsizetype(std::min<qint64>(upload.declaredBytes - upload.receivedBytes, bytes.size()));
  qint64 position = upload.receivedBytes;
  for (qsizetype i = 0; i < take; ++i, ++position) {
    const std::uint32_t byte = std::uint8_t(bytes[i]);
    const int shift = int(position % 4) * 8;
    if (position >= 4 && position < 8)
      firmware_.lengthField |= byte << shift;
    // Adding each byte at its place in its word adds the words.
    if (position < wordBytes)
      firmware_.sum += byte << shift;
  }
  upload.receivedBytes += take;
  bytes = bytes.sliced(take);
  if (upload.receivedBytes == upload.declaredBytes)
    finishFirmware(true);
}

void CommandDecoder::finishFirmware(bool complete) {
  FirmwareUpload upload = firmware_.upload;
  upload.complete = complete;
  if (!complete)
    upload.verdict = FirmwareVerdict::Valid; // not decided
  else if (upload.declaredBytes < kFirmwareMinBytes)
    upload.verdict = FirmwareVerdict::TooShort;
  else if (firmware_.lengthField != std::uint32_t(upload.declaredBytes))
    upload.verdict = FirmwareVerdict::LengthMismatch;
  else if (firmware_.sum != 0)
    upload.verdict = FirmwareVerdict::BadWordSum;
  else
    upload.verdict = FirmwareVerdict::Valid;
  firmware_ = FirmwareStream{};
  mode_ = Mode::Commands;
  listener_.OnFirmware(upload);
}

void CommandDecoder::EndOfStream() {
  if (mode_ == Mode::Logos) {
    finishLogos(false);
  } else if (mode_ == Mode::Firmware) {
    finishFirmware(false);
  } else if (!pending_.isEmpty()) {
    flushRuns();
    listener_.OnUnknown(pending_.left(kUnknownShownBytes), pending_.size(), true);
    pending_.clear();
  }
  flushRuns();
}

void CommandDecoder::addText(char byte) {
  flushUnknown();
  text_.append(byte);
  if (text_.size() == kTextRunBytes)
    flushText();
}

void CommandDecoder::addUnknown(char byte) {
  flushText();
  if (unknownShown_.size() < kUnknownShownBytes)
    unknownShown_.append(byte);
  if (++unknownCount_ == kUnknownRunBytes)
    flushUnknown();
}

void CommandDecoder::flushText() {
  if (!text_.isEmpty())
    listener_.OnText(std::exchange(text_, {}));
}

void CommandDecoder::flushUnknown() {
  if (unknownCount_ == 0)
    return;
  const qint64 count = std::exchange(unknownCount_, 0);
  listener_.OnUnknown(std::exchange(unknownShown_, {}), count, false);
}

void CommandDecoder::flushRuns() {
  flushText();
  flushUnknown();
}

} // namespace pellicar
