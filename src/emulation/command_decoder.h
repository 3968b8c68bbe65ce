#pragma once

#include "emulation/command_listener.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace pellicar {

// Splits the byte stream a printer receives into the commands Pellicar
// sends (and the standard status request DLE EOT n), whatever the pieces
// in which the bytes arrive: feeding a stream whole or byte by byte gives
// the same calls of the listener.
//
// Bytes that begin no known command are collected into one run of unknown
// bytes, reported when a known command or text follows (or every
// kUnknownRunBytes); decoding goes on at the next byte, so garbage never
// stops what follows.
//
// Memory stays bounded whatever lengths a command declares: a firmware
// upload is checked as it streams and never held; logo data is kept only
// up to the logo memory's size, the rest of a download that cannot fit is
// read and dropped. At most one partial command (kMaxPendingBytes) waits
// for its remaining bytes.
//
// One decoder per stream (a TCP connection, a serial line). Not thread
// safe; the listener is called from within Feed and EndOfStream.
class CommandDecoder {
public:
  // Text is handed on at the latest when a run reaches this size.
  static constexpr qsizetype kTextRunBytes = 1024;
  // Of a run of unknown bytes, this many are shown.
  static constexpr qsizetype kUnknownShownBytes = 32;
  // A run of unknown bytes is reported at the latest at this size, so that
  // a long stream of garbage still shows up as it arrives.
  static constexpr qint64 kUnknownRunBytes = 65536;
  // The longest command held whole: Wi-Fi with a 255-byte SSID and key.
  static constexpr qsizetype kMaxPendingBytes = 3 + 255 + 3 + 255;

  explicit CommandDecoder(CommandListener &listener);

  void Feed(QByteArrayView bytes);
  // The stream has ended (the connection closed): reports a command cut
  // short and the runs still open, and starts afresh.
  void EndOfStream();

private:
  enum class Mode { Commands, Logos, Firmware };
  enum class Match { NeedMore, NoMatch, Complete };

  struct LogoStream {
    int count = 0;
    int index = 0;
    std::uint8_t header[4] = {};
    int headerHave = 0;
    qint64 rasterLeft = 0;
    LogoDownload download;
  };

  struct FirmwareStream {
    FirmwareUpload upload;
    std::uint32_t sum = 0;
    std::uint32_t lengthField = 0;
  };

  void feed(QByteArrayView bytes);
  void decodePending();
  // Decides what the pending bytes are; on Complete, `length` is the
  // command's size and it has been reported.
  Match match(qsizetype &length);
  void consumeLogos(QByteArrayView &bytes);
  void consumeFirmware(QByteArrayView &bytes);
  void startLogoRecord();
  void endLogoRecord();
  void finishLogos(bool complete);
  void finishFirmware(bool complete);

  void addText(char byte);
  void addUnknown(char byte);
  void flushText();
  void flushUnknown();
  void flushRuns();

  CommandListener &listener_;
  Mode mode_ = Mode::Commands;
  QByteArray pending_;
  QByteArray text_;
  QByteArray unknownShown_;
  qint64 unknownCount_ = 0;
  LogoStream logos_;
  FirmwareStream firmware_;
};

} // namespace pellicar
