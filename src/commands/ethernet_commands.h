#pragma once

#include "commands/command_sequence.h"

#include <QString>

#include <array>
#include <cstdint>

namespace pellicar {

// What the IP address edits edtIPAD1..edtIPAD4 hold, left to right; the
// initial texts are the window's defaults.
struct IpAddressFields {
  std::array<QString, 4> texts = {QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("1"),
                                  QStringLiteral("87")};
};

// What the MAC address edits edtMAC1..edtMAC5 hold. The first address byte
// is always 00 (the disabled edtMAC0 only shows it and is not read).
struct MacAddressFields {
  std::array<QString, 5> texts = {QStringLiteral("100"), QStringLiteral("101"),
                                  QStringLiteral("102"), QStringLiteral("103"),
                                  QStringLiteral("104")};
};

// Items of cbbSpeed, in order; index 0 is selected after every fill.
inline constexpr std::array<const char *, 5> kLinkSpeedItems = {
    "Auto Negotiation", "100M Full Duplex", "100M Half Duplex", "10M Full Duplex",
    "10M Half Duplex"};

// The three bytes that select each item of kLinkSpeedItems: 01 for a fixed
// mode, then 01 for 100 Mbit/s, then 01 for full duplex; auto-negotiation
// has a code of its own.
inline constexpr std::array<std::array<std::uint8_t, 3>, kLinkSpeedItems.size()> kLinkSpeedCodes = {
    {{0x00, 0x00, 0x84},
     {0x01, 0x01, 0x01},
     {0x01, 0x01, 0x00},
     {0x01, 0x00, 0x01},
     {0x01, 0x00, 0x00}}};

// "SET" beside the IP address: "Set IP", 1F 69 a1 a2 a3 a4. Each field is
// converted by the integer-field rule, left to right, and its low 8 bits
// are sent (256 sends 00, -1 sends FF). The first field that does not
// convert raises EConvertError naming its text. Pure; any thread.
CommandSequence BuildSetIp(const IpAddressFields &fields);

// "SET" beside the MAC address: "Set MAC", 1F 6D 00 m1 m2 m3 m4 m5, the
// fields decimal (or prefixed hexadecimal) numbers converted as for the IP
// address.
CommandSequence BuildSetMac(const MacAddressFields &fields);

// "SET" beside the speed: "Set Speed", 1F 70 s1 s2 s3 for the item of
// kLinkSpeedItems; an index outside the list raises EInvalidChoice.
CommandSequence BuildSetSpeed(int speedIndex);

} // namespace pellicar
