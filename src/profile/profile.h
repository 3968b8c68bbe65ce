#pragma once

#include "commands/base_commands.h"
#include "commands/ethernet_commands.h"
#include "commands/wifi_commands.h"
#include "platform/exceptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace pellicar {

// A printer's whole set-up as one JSON document (docs/profile.md):
//   {"pellicarProfile": 1, "name": ..., "base": {...}, "ethernet": {...},
//    "wifi": {...}, "blackMark": {...}, "logos": [...], "connection": {...}}
// Every section is optional; a profile holds only what it sets. base,
// ethernet and wifi take the keys and value forms that the virtual
// printer's state file writes for them; blackMark takes millimetres.

inline constexpr int kProfileVersion = 1;

// A profile that cannot be used: the JSON path of the value at fault
// ("wifi.security", "logos.2.file"; empty for the document as a whole) and
// the reason. message() is "PATH: REASON".
class EProfileError : public Exception {
public:
  EProfileError(const QString &path, const QString &reason);
  const QString &path() const noexcept { return path_; }
  const QString &reason() const noexcept { return reason_; }

private:
  QString path_;
  QString reason_;
};

// blackMark: each key is its own command and may be left out. Distances in
// whole millimetres, 0 to kMaxBlackMarkMm (8 dots a millimetre in 16 bits).
struct ProfileBlackMark {
  std::optional<bool> enabled;
  std::optional<int> pitchMm;
  std::optional<int> widthMm;
  std::optional<int> printOffsetMm;
  std::optional<int> cutOffsetMm;
  friend bool operator==(const ProfileBlackMark &, const ProfileBlackMark &) = default;
};
inline constexpr int kMaxBlackMarkMm = 8191;

// wifi: the settings the WIFI tab sends. The key sits in wpaKey or wepKey,
// whichever the security uses. keyEnv names the environment variable the
// key was read from (the profile then holds no key of its own).
struct ProfileWifi {
  WifiSettings settings;
  QString keyEnv;
  // Set when keyEnv names a variable that is not set and the reader was
  // told not to require it (the window): the key is then empty.
  bool keyEnvMissing = false;
};

// One entry of logos: a bitmap file (path relative to the profile's folder
// or absolute) or the bitmap file's bytes embedded; name is optional.
struct ProfileLogo {
  QString name;
  QString file; // as written in the profile; empty when embedded
  QString path; // file resolved against the profile's folder
  QByteArray bmp;
  bool embedded() const { return file.isEmpty(); }
  // What a list shows for it: the name, else the file's name.
  QString displayName() const;
};

// connection: the window's "Port" choice and its parameters. The
// command-line tool takes its channel from its own options instead.
struct ProfileConnection {
  enum class Port { Driver, Serial, Tcp };
  Port port = Port::Driver;
  std::optional<QString> printer;    // Driver: the print queue
  std::optional<QString> serialPort; // Serial: the device, as the port list shows it
  std::optional<int> baudRate;       // Serial: the computer's side, 1200 .. 115200
  std::optional<int> parityIndex;    // Serial: 0 none, 1 odd, 2 even
  std::optional<QString> host;       // Tcp
  std::optional<int> tcpPort;        // Tcp: 1 .. 65535
};

struct Profile {
  QString name;
  std::optional<BaseSettings> base;  // all of base's keys together
  std::optional<IpAddressFields> ip; // decimal texts, each 0..255
  std::optional<MacAddressFields> mac;
  std::optional<int> speedIndex; // a row of kLinkSpeedItems
  std::optional<ProfileWifi> wifi;
  std::optional<ProfileBlackMark> blackMark;
  std::optional<QList<ProfileLogo>> logos;
  // The logo download's bytes (1C 71 n and one record per entry) when
  // logos is present, as "pellicar-cli logo" sends them.
  QByteArray logoData;
  // With ProfileReadOptions::skipMissingLogos: the entries whose file was
  // not found, as "logos.N.file: PATH", left out of logos and logoData.
  QStringList missingLogos;
  std::optional<ProfileConnection> connection;
};

// A value given on a command line for one key, by its path ("ethernet.ip",
// "wifi.ssid", "blackMark.pitchMm"); the text is read as the key's type
// (a number, true/false/on/off, or text as it stands).
struct ProfileOverride {
  QString path;
  QString value;
};

struct ProfileReadOptions {
  // False (the window): a keyEnv whose variable is not set leaves the key
  // empty and sets keyEnvMissing instead of refusing the profile.
  bool requireKeyEnv = true;
  // True (the window): a logo file that does not exist is left out and
  // named in missingLogos instead of refusing the profile.
  bool skipMissingLogos = false;
};

// Reads and checks a profile from its bytes. `baseFolder` is the folder
// that relative logo paths start from (the profile file's folder).
// `overrides` replace or add single keys before anything is checked.
// Every value is checked with the window's and the tool's rules, logo
// files are read and converted, and the first fault raises EProfileError
// naming its path. Reads the environment (keyEnv) and the logo files;
// any thread.
Profile ParseProfile(const QByteArray &json, const QString &baseFolder,
                     const QList<ProfileOverride> &overrides = {},
                     const ProfileReadOptions &options = {});

// Reads the file at `path` and parses it with its folder as the base. A
// file that cannot be read raises EProfileError with an empty path.
Profile ReadProfileFile(const QString &path, const QList<ProfileOverride> &overrides = {},
                        const ProfileReadOptions &options = {});

} // namespace pellicar
