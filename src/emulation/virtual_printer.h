#pragma once

#include "emulation/command_listener.h"
#include "emulation/printer_state.h"
#include "emulation/printer_status.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace pellicar {

struct VirtualPrinterOptions {
  PrinterStatus status = PrinterStatus::Ready;
  // Draw the stored logos and the printed pages (onPicture).
  bool pictures = false;
  // The first line of the self-test page after its title.
  QString identity;
  // Pictures of pages kept: printing page N removes the picture of page
  // N - keptPages (onPicture with a null image), so that a stream of form
  // feeds cannot fill the disk.
  int keptPages = 50;
};

// What a printer makes of the commands it receives: its state (the settings
// as it takes them, the stored logos, the firmware check, counters), one
// log line in words for each command, the answers to status requests and,
// when asked for, pictures of its logos and printed pages.
//
// Feed it through a CommandDecoder per stream; several streams may share
// one printer. Main thread; the callbacks are called from within the
// decoder's Feed and EndOfStream.
class VirtualPrinter : public CommandListener {
public:
  // Lines printed on a page beyond this many (about 3 m of paper; the
  // picture of a full page takes 14 MB) are dropped, and said so.
  static constexpr qsizetype kMaxPageLines = 1000;
  // Of one line of text, this many characters are kept.
  static constexpr qsizetype kMaxLineChars = 4096;

  explicit VirtualPrinter(VirtualPrinterOptions options = {});

  // A line of the log, without its line end.
  std::function<void(const QString &)> onLog;
  // Bytes to send back on the stream being fed (status answers).
  std::function<void(const QByteArray &)> onAnswer;
  // A picture, named "logo-N.png" or "page-N.png". A null image: the file
  // of that name no longer shows a stored logo (a smaller set replaced it).
  std::function<void(const QString &, const QImage &)> onPicture;

  const PrinterState &State() const { return state_; }
  // Complete commands taken so far (unknown bytes and text not yet ended
  // by a line feed are none).
  qint64 Commands() const { return commands_; }
  // Whether a command changed the state since the last call.
  bool TakeChanged();

  void OnBytesReceived(qint64 count) override;
  void OnBaseParameters(const BaseParameterBytes &bytes) override;
  void OnSwitch(PrinterSwitch which, std::uint8_t value) override;
  void OnSelfTest() override;
  void OnSetIp(const std::array<std::uint8_t, 4> &address) override;
  void OnSetMac(const std::array<std::uint8_t, 6> &address) override;
  void OnSetSpeed(const std::array<std::uint8_t, 3> &speed) override;
  void OnSetWifi(const WifiBytes &wifi) override;
  void OnBlackMarkMode(std::uint8_t mode) override;
  void OnBlackMarkDistance(BlackMarkDistanceKind kind, std::uint16_t dots) override;
  void OnMarkOffset(MarkOffsetKind kind, std::uint8_t direction, std::uint16_t dots) override;
  void OnCut(std::uint8_t mode, std::optional<std::uint8_t> feed) override;
  void OnText(const QByteArray &text) override;
  void OnLineFeed() override;
  void OnFormFeed() override;
  void OnLogos(const LogoDownload &logos) override;
  void OnFirmware(const FirmwareUpload &upload) override;
  void OnStatusRequest(int n) override;
  void OnUnknown(const QByteArray &shown, qint64 count, bool cutShort) override;

private:
  // The settings a self-test page shows, in its order.
  enum Setting {
    kBase,
    kReprint,
    kBuzzAfterPrinting,
    kIp,
    kMac,
    kSpeed,
    kWifi,
    kBlackMark,
    kPitch,
    kWidth,
    kPrintOffset,
    kCutOffset,
    kFirmware,
    kSettingCount
  };

  // Logs a line for a complete command.
  void log(const QString &line);
  // Logs a line that tells of no command (bytes not understood).
  void note(const QString &line);
  // Logs `line` and keeps it as what the self-test page shows for `setting`.
  void setting(Setting which, const QString &line);
  int charsPerLine() const;
  // Ends the current line of text onto the page.
  void endLine();
  // Prints the page of text, if there is one; returns what the log adds
  // (", printed page 2 (page-2.png)") or nothing.
  QString printPage();
  QString nextPage(const QImage &picture);

  VirtualPrinterOptions options_;
  PrinterState state_;
  bool changed_ = true;
  qint64 commands_ = 0;
  std::array<QString, kSettingCount> settings_;
  QList<QImage> logoPictures_;
  QStringList logoCaptions_;
  QByteArray line_;
  qsizetype lineChars_ = 0; // of the current line, also those not kept
  QStringList pageLines_;
  qsizetype droppedLines_ = 0;
  int pages_ = 0;
};

// Bytes received as text that is safe to print on a terminal and in a
// line-based log: printable UTF-8 stays; control bytes, bytes that are not
// UTF-8, and invisible or line-breaking characters become \xNN (each byte);
// a backslash and a double quote get a backslash, so nothing is ambiguous.
QString EscapedText(QByteArrayView bytes);

// 1234567 as "1,234,567".
QString GroupedNumber(qint64 value);

} // namespace pellicar
