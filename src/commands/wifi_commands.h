#pragma once

#include "commands/command_sequence.h"
#include "platform/exceptions.h"

#include <QString>

#include <array>

namespace pellicar {

// Items of the Wi-Fi lists, in order, with the index selected after every
// fill.
inline constexpr std::array<const char *, 2> kWpaTypeItems = {"WPA-PSK", "WPA2-PSK"}; // 0
inline constexpr std::array<const char *, 2> kCipherItems = {"TPIK", "AES"};          // 1
inline constexpr std::array<const char *, 2> kWepTypeItems = {"OPEN", "SHARE"};       // 0

// The checked one of rbNoPassword, rbWPA, rbWEP.
enum class WifiSecurity { Open, Wpa, Wep };

// What the Wi-Fi tab's controls hold; the initial values are the window's
// defaults. Only the key of the chosen security is used.
struct WifiSettings {
  QString ssid = QStringLiteral("SSID"); // edtWIFISSID
  WifiSecurity security = WifiSecurity::Open;
  int wpaTypeIndex = 0; // cbbWPAType
  int cipherIndex = 1;  // cbbENType
  QString wpaKey;       // edtWPAPassword
  int wepTypeIndex = 0; // cbbWEPType
  QString wepKey;       // edtWEPPassword
};

// A text whose UTF-8 bytes do not fit the one length byte that describes it.
// The window shows the message in a box captioned "Error" with the error
// icon and sends nothing.
class ETextTooLong : public Exception {
public:
  ETextTooLong(const QString &fieldName, qsizetype byteCount);

  const QString &fieldName() const noexcept { return fieldName_; }
  qsizetype byteCount() const noexcept { return byteCount_; }

private:
  QString fieldName_;
  qsizetype byteCount_;
};

// The most bytes an SSID or a key can have.
inline constexpr qsizetype kMaxWifiTextBytes = 255;

// "SET" on the WIFI tab: "Set WIFI",
//   1F 77 Ls ssid A B Lk key        (Ls + Lk + 6 bytes)
// with the SSID and the key as their UTF-8 bytes. Open: A B = 00 00, no key;
// WPA: A = 02 (WPA-PSK) or 03 (WPA2-PSK), B = cipher index, the WPA key;
// WEP: A B = 00 01 (OPEN) or 01 00 (SHARE), the WEP key. The key of the
// other security is not looked at. An SSID or the used key over 255 bytes
// raises ETextTooLong (the SSID is checked first); a list index outside its
// list raises EInvalidChoice. Pure; any thread.
CommandSequence BuildSetWifi(const WifiSettings &settings);

} // namespace pellicar
