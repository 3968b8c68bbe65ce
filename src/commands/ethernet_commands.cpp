#include "commands/ethernet_commands.h"

#include "commands/integer_field.h"
#include "commands/list_choice.h"

namespace pellicar {

namespace {

// Converts every field before any byte is kept, so that a bad field leaves
// nothing half built; the low 8 bits of each value are the byte sent.
template <std::size_t N> QByteArray FieldBytes(const std::array<QString, N> &texts) {
  QByteArray bytes;
  bytes.reserve(qsizetype(N));
  for (const QString &text : texts)
    bytes.append(char(ConvertIntegerField(text) & 0xFF));
  return bytes;
}

} // namespace

CommandSequence BuildSetIp(const IpAddressFields &fields) {
  return {QStringLiteral("Set IP"), QByteArray("\x1F\x69", 2) + FieldBytes(fields.texts)};
}

CommandSequence BuildSetMac(const MacAddressFields &fields) {
  return {QStringLiteral("Set MAC"), QByteArray("\x1F\x6D\x00", 3) + FieldBytes(fields.texts)};
}

CommandSequence BuildSetSpeed(int speedIndex) {
  const std::uint8_t row = CheckedChoice("Speed", speedIndex, kLinkSpeedItems.size());
  const auto &code = kLinkSpeedCodes[row];
  return {QStringLiteral("Set Speed"),
          QByteArray("\x1F\x70", 2) +
              QByteArray(reinterpret_cast<const char *>(code.data()), qsizetype(code.size()))};
}

} // namespace pellicar
