#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace pellicar {

// Printers set up at once by default: enough to finish a store's fifty in
// a few rounds, few enough that a small computer and a store's network
// are not swamped (each printer runs in a process of its own, about 20 MiB).
inline constexpr int kDefaultFleetParallel = 8;
inline constexpr int kMaxFleetParallel = 64;

// --verify-address without SECONDS: how long a printer may take to answer
// at its new address. A receipt printer restarts in 10 to 30 s.
inline constexpr int kDefaultVerifyAddressMs = 60000;
inline constexpr int kMaxVerifyAddressMs = 600000;

// One printer's work, as its worker process gets it on standard input:
//   {"target": "tcp:10.0.0.5", "profile": {... the overrides applied ...},
//    "profileDir": "/abs/dir" (for logo files named relative to the profile),
//    "only": ["base", ...] (empty: every section the profile holds),
//    "timeoutMs": N, "verifyMs": N (0: no verification)}
struct FleetPrinterJob {
  QString target; // as the targets file writes it
  int line = 0;   // its row in the targets file
  QJsonObject work;
};

// `apply PROFILE --targets FILE`, read and checked: every row's profile
// with its overrides is valid, or the command was refused before anything
// was sent.
struct FleetPlan {
  QString profilePath;
  QString targetsPath;
  int parallel = kDefaultFleetParallel;
  bool json = false;
  int timeoutMs = 10000;
  int verifyMs = 0;
  std::vector<FleetPrinterJob> printers;
};

} // namespace pellicar
