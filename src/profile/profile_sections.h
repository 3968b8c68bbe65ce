#pragma once

#include "channels/command_sequence.h"
#include "profile/profile.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace pellicar {

// The sections of a profile in the order they are sent. IP goes last: a
// printer may take its new address at once, and what follows would go to
// the old one.
//   base       "Base Parameter", "PNPA", "BAP"       (the Base tab's SET)
//   blackMark  "Enable BM"/"Disable BM", "Set BM Length", "Set BM Width",
//              "Set BM Postion", "Set BM Cut"         (those keys given)
//   wifi       "Set WIFI"
//   logos      "LOGO TO NVRAM"                        (one FS q download)
//   speed      "Set Speed"                            (ethernet.speed)
//   mac        "Set MAC"                              (ethernet.mac)
//   ip         "Set IP"                               (ethernet.ip)
// Each sequence is byte for byte what the window's button, or the
// single pellicar-cli command, sends for the same values.
QStringList ProfileSectionNames();

// A section to send: its name (as above) and its sequences, in order.
struct ProfileSection {
  QString name;
  std::vector<CommandSequence> sequences;
  friend bool operator==(const ProfileSection &, const ProfileSection &) = default;
};

// Reads a comma-separated list of section names ("base,ip"; letter case
// ignored; "ethernet" stands for speed, mac and ip) into names of
// ProfileSectionNames. An unknown or empty name raises EProfileError with
// the path `option`.
QStringList ReadSectionList(const QString &list, const QString &option);

// The sections the profile sets, in sending order, each with at least one
// sequence; only those named in `only` when it is not empty. Raises the
// builders' errors, which a profile that ParseProfile accepted does not
// cause. Pure; any thread.
std::vector<ProfileSection> BuildProfileSections(const Profile &profile,
                                                 const QStringList &only = {});

} // namespace pellicar
