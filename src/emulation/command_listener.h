#pragma once

#include "firmware/firmware_check.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <cstdint>
#include <optional>

namespace pellicar {

// The printer's side of every command Pellicar sends, as the bytes arrive:
// what CommandDecoder recognises, handed on with its values exactly as they
// travelled (nothing is range checked here; the listener decides what the
// printer makes of a value it does not know).

// 1F 73 and its nine value bytes, in the order of the wire.
struct BaseParameterBytes {
  std::uint8_t baudIndex = 0;
  std::uint8_t cutter = 0; // 00 on, 01 off
  std::uint8_t buzzer = 0; // 00 on, 01 off
  std::uint8_t drawer = 0; // 00 on, 01 off
  std::uint8_t charsPerLineIndex = 0;
  std::uint8_t densityIndex = 0;
  std::uint8_t codePage = 0;
  std::uint8_t parityIndex = 0;
  std::uint8_t fontIndex = 0;
};

// 1F 72 n (automatic reprint) and 1F 74 n (buzz after printing).
enum class PrinterSwitch { Reprint, BuzzAfterPrinting };

// 1F 77 Ls ssid A B Lk key.
struct WifiBytes {
  QByteArray ssid;
  std::uint8_t authentication = 0; // A
  std::uint8_t mode = 0;           // B: cipher for WPA, WEP mode otherwise
  QByteArray key;
};

// 1F 1B 1F 81|82 04 05 06 dH dL.
enum class BlackMarkDistanceKind { Pitch, Width };
// GS ( F with a = 1 (print start) or 2 (cut position).
enum class MarkOffsetKind { PrintStart, Cut };

// One image of FS q: x·8 dots wide, y·8 dots high, column raster.
struct LogoImageRecord {
  int x = 0;
  int y = 0;
  QByteArray raster; // 8·x·y bytes
};

// A whole FS q command, or as much of it as arrived.
struct LogoDownload {
  int declaredCount = 0;
  QList<LogoImageRecord> records; // empty when refused
  qint64 bytes = 0;               // command bytes taken, the 3 of 1C 71 n included
  bool complete = false;          // every declared byte arrived
  // The declared records do not fit the logo memory (kLogoCapacity bytes,
  // the command's 3 included); the data was read and dropped.
  bool tooLarge = false;
  qint64 declaredBytes = 0; // when tooLarge: the bytes declared up to the record that overflowed
};

// 1F 75 L (four bytes, most significant first) and the L bytes of the
// firmware file, checked as they stream past.
struct FirmwareUpload {
  qint64 declaredBytes = 0; // L
  qint64 receivedBytes = 0;
  bool complete = false;
  // Decided only when complete: the first rule that fails, as the window's
  // check applies them (at least 256 bytes, the length field at offset 4
  // equal to L, the 32-bit words summing to 0).
  FirmwareVerdict verdict = FirmwareVerdict::Valid;
};

// Receives what the decoder recognises, in stream order. Called on the
// thread that feeds the decoder.
class CommandListener {
public:
  virtual ~CommandListener() = default;

  // Every byte fed, before what it completes is reported.
  virtual void OnBytesReceived(qint64 count) = 0;

  virtual void OnBaseParameters(const BaseParameterBytes &bytes) = 0;
  virtual void OnSwitch(PrinterSwitch which, std::uint8_t value) = 0;
  virtual void OnSelfTest() = 0;
  virtual void OnSetIp(const std::array<std::uint8_t, 4> &address) = 0;
  virtual void OnSetMac(const std::array<std::uint8_t, 6> &address) = 0;
  virtual void OnSetSpeed(const std::array<std::uint8_t, 3> &speed) = 0;
  virtual void OnSetWifi(const WifiBytes &wifi) = 0;
  // 1F 1B 1F 80 04 05 06 m: 44 on, 66 off, anything else unknown.
  virtual void OnBlackMarkMode(std::uint8_t mode) = 0;
  virtual void OnBlackMarkDistance(BlackMarkDistanceKind kind, std::uint16_t dots) = 0;
  // GS ( F 04 00 a m nL nH; m = 0 forward, 1 backward.
  virtual void OnMarkOffset(MarkOffsetKind kind, std::uint8_t direction, std::uint16_t dots) = 0;
  // GS V m (m 0/48 full, 1/49 partial) or GS V m n (m 65/66, feed n first).
  virtual void OnCut(std::uint8_t mode, std::optional<std::uint8_t> feed) = 0;
  // Printable text (20..7E). A run of text is handed on whole when
  // something else follows, and in pieces of CommandDecoder::kTextRunBytes.
  virtual void OnText(const QByteArray &text) = 0;
  virtual void OnLineFeed() = 0;
  virtual void OnFormFeed() = 0;
  virtual void OnLogos(const LogoDownload &logos) = 0;
  virtual void OnFirmware(const FirmwareUpload &upload) = 0;
  // DLE EOT n, n = 1..4: the printer answers with one status byte at once.
  virtual void OnStatusRequest(int n) = 0;
  // Bytes that form no command: `shown` is at most the first
  // CommandDecoder::kUnknownShownBytes of the `count` bytes. `cutShort`:
  // the beginning of a command whose stream ended before it was whole.
  virtual void OnUnknown(const QByteArray &shown, qint64 count, bool cutShort) = 0;
};

} // namespace pellicar
