#pragma once

#include "cli/cli_request.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

namespace pellicar {

// One printer of a targets file.
struct FleetTarget {
  QString text;          // the target as written: "tcp:10.0.0.5:9100", "serial:/dev/ttyUSB0"
  ChannelChoice channel; // what it names
  int line = 0;          // the file's line on which its row starts
  // Profile path -> the cell's text, for the non-empty cells of the
  // override columns, in the columns' order.
  std::vector<std::pair<QString, QString>> overrides;
};

struct FleetTargets {
  std::vector<FleetTarget> targets;
  QStringList overrideColumns; // profile paths, in the file's order
  QStringList ignoredColumns;  // columns that are neither `target` nor a profile path
};

// The most printers one targets file may name (as many as one discovery
// can find), and the largest file read: a bound against a wrong file
// rather than a limit a site reaches.
inline constexpr int kMaxFleetTargets = 4096;
inline constexpr qint64 kMaxTargetsFileBytes = 4 * 1024 * 1024;

// Reads a targets file: CSV (commas, fields in double quotes where they
// hold commas, quotes or line ends, "" for a quote; LF or CRLF; a UTF-8
// byte-order mark is skipped), a header row, one printer per row.
//
// Columns, by the header:
// - `target` (required): tcp:HOST[:PORT], serial:PATH, device:PATH or
//   queue:NAME;
// - a name SECTION.KEY whose SECTION is one of the profile's (base,
//   ethernet, wifi, blackMark): an override of that profile path for the
//   row's printer, and `isOverridePath` must accept it (a misspelt key is
//   refused rather than ignored); an empty cell overrides nothing;
// - any other name (a discovery inventory's status, model or note
//   columns): ignored, and listed in `ignoredColumns`.
// Blank lines are skipped. A printer named twice is refused: two runs at
// once would interleave their commands on one printer.
//
// Raises EBadInput "FILE:LINE: reason" for a file that cannot be read, is
// not such a CSV, or names a target badly; nothing is sent by then.
FleetTargets ReadFleetTargets(const QString &path,
                              const std::function<bool(const QString &)> &isOverridePath);

// A target's text as a channel; EBadInput with the reason otherwise.
ChannelChoice ParseFleetTarget(const QString &text);

// Whether `name` is SECTION.KEY with one of the profile's sections, i.e.
// meant as an override column.
bool LooksLikeProfilePath(const QString &name);

} // namespace pellicar
