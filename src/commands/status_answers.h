#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

namespace pellicar {

// The standard real-time status requests, DLE EOT n (10 04 n) for n = 1
// to 4, and what their one-byte answers mean.

inline constexpr int kStatusRequestCount = 4;

// DLE EOT n.
QByteArray StatusRequest(int n);

// Every answer has bits 1 and 4 set and bits 0 and 7 clear. A byte
// without them is not an answer, whatever else it says.
inline constexpr quint8 kStatusFixedMask = 0x93;
inline constexpr quint8 kStatusFixedBits = 0x12;
inline bool HasStatusFixedBits(quint8 byte) {
  return (byte & kStatusFixedMask) == kStatusFixedBits;
}

// The bits that carry news, by request (the fixed bits aside).
inline constexpr quint8 kStatus1DrawerPin3 = 0x04; // n=1: the drawer connector's pin 3 high
inline constexpr quint8 kStatus1Offline = 0x08;
inline constexpr quint8 kStatus2CoverOpen = 0x04;
inline constexpr quint8 kStatus2FeedButton = 0x08;        // paper fed by the feed button
inline constexpr quint8 kStatus2StoppedByPaperEnd = 0x20; // printing stopped: paper out
inline constexpr quint8 kStatus2ErrorOccurred = 0x40;
inline constexpr quint8 kStatus3Cutter = 0x08;
inline constexpr quint8 kStatus3Unrecoverable = 0x20;
inline constexpr quint8 kStatus3AutoRecoverable = 0x40;
inline constexpr quint8 kStatus4PaperNearEnd = 0x0C; // both sensor bits
inline constexpr quint8 kStatus4PaperEnd = 0x60;     // both sensor bits

enum class PaperState { Ok, NearEnd, Out };
enum class PrinterError { None, Cutter, Unrecoverable, AutoRecoverable };

struct ReportedStatus {
  bool online = false;    // n=1 bit 3 clear
  bool coverOpen = false; // n=2 bit 2
  PaperState paper = PaperState::Ok;
  bool feedButtonPressed = false; // n=2 bit 3: paper being fed by the feed button
  bool errorOccurred = false;     // n=2 bit 6
  PrinterError error = PrinterError::None;
  // n=1 bit 2 is the level of the drawer kick-out connector's pin 3. High
  // counts as open: a drawer's switch lifts the pin when the drawer opens,
  // and a printer with no drawer connected reads low, which is "closed".
  bool drawerOpen = false;

  // Online, cover closed, paper not out, and no error of any kind: the
  // printer prints what it is sent. Paper near its end still prints.
  bool Ready() const;
};

// The answers to DLE EOT 1, 2, 3 and 4, in that order, each with its fixed
// bits right (HasStatusFixedBits).
ReportedStatus DecodeStatusAnswers(const std::array<quint8, kStatusRequestCount> &answers);

} // namespace pellicar
