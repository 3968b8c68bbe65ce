#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

#include <optional>

namespace pellicar {

struct PrinterCounters {
  qint64 bytesReceived = 0;
  qint64 selfTests = 0;
  qint64 cuts = 0;
  qint64 formFeeds = 0;
  qint64 unknownBytes = 0;
  qint64 statusRequests = 0;
};

// What a virtual printer keeps, as its state file shows it:
//   {"base": {...}, "ethernet": {...}, "wifi": {...}, "blackMark": {...},
//    "logos": [...], "firmware": {...}, "counters": {...}}
// A section that no command has set is empty here and null in the file;
// inside a section that is set, every key is present, null until a command
// sets it. Values the printer does not know stay the numbers that arrived.
struct PrinterState {
  QJsonObject base;                // baudRate parity cutter buzzer drawer charsPerLine density
                                   // codePage codePageName font reprint buzzAfterPrinting
  QJsonObject ethernet;            // ip mac speed
  QJsonObject wifi;                // ssid ssidHex security cipher key keyHex (the hex fields:
                                   // the exact bytes, when the text cannot hold them; else null)
  QJsonObject blackMark;           // enabled pitchDots widthDots printOffsetDots cutOffsetDots
  std::optional<QJsonArray> logos; // {widthDots heightDots rasterBytes png}
  QJsonObject firmware;            // bytes check
  PrinterCounters counters;

  QJsonObject ToJson() const;
  // The state file's content: indented JSON, ending with a new line.
  QByteArray ToFileBytes() const;
};

} // namespace pellicar
