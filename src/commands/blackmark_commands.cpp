#include "commands/blackmark_commands.h"

#include "commands/integer_field.h"
#include "platform/exceptions.h"

#include <cstdint>

namespace pellicar {

namespace {

const QByteArray kPrinterPreamble("\x1F\x1B\x1F", 3);
const QByteArray kFixedBytes("\x04\x05\x06", 3);

QByteArray BlackMarkCommand(char function) {
  return kPrinterPreamble + QByteArray(1, function) + kFixedBytes;
}

// GS ( F with pL pH = 04 00, the function, and m = 00 (feed direction).
QByteArray OffsetCommand(char function) {
  return QByteArray("\x1D\x28\x46\x04\x00", 5) + QByteArray(1, function) + QByteArray(1, '\0');
}

struct DistanceBytes {
  char high;
  char low;
};

DistanceBytes DistanceInDots(const QString &millimetres) {
  const std::int32_t n = ConvertIntegerField(millimetres);
  // Eight dots per millimetre, wrapping in 32 bits rather than overflowing.
  const auto dots = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) * 8u);
  // Division rounds toward zero, so a small negative distance has a high
  // byte of 00 (-8 dots: 00 F8), unlike an arithmetic shift.
  return {char((dots / 256) & 0xFF), char(dots & 0xFF)};
}

} // namespace

CommandSequence BuildEnableBlackMark() {
  return {QStringLiteral("Enable BM"), BlackMarkCommand('\x80') + QByteArray(1, '\x44')};
}

CommandSequence BuildDisableBlackMark() {
  return {QStringLiteral("Disable BM"), BlackMarkCommand('\x80') + QByteArray(1, '\x66')};
}

CommandSequence BuildBlackMarkDistance(BlackMarkDistance field, const QString &millimetres) {
  const DistanceBytes d = DistanceInDots(millimetres);
  const QByteArray highFirst = QByteArray(1, d.high) + QByteArray(1, d.low);
  const QByteArray lowFirst = QByteArray(1, d.low) + QByteArray(1, d.high);
  switch (field) {
  case BlackMarkDistance::Pitch:
    return {QStringLiteral("Set BM Length"), BlackMarkCommand('\x81') + highFirst};
  case BlackMarkDistance::Width:
    return {QStringLiteral("Set BM Width"), BlackMarkCommand('\x82') + highFirst};
  case BlackMarkDistance::PrintAfter:
    return {QStringLiteral("Set BM Postion"), OffsetCommand('\x01') + lowFirst};
  case BlackMarkDistance::CutAfter:
    return {QStringLiteral("Set BM Cut"), OffsetCommand('\x02') + lowFirst};
  }
  throw Exception(QStringLiteral("Unknown black-mark distance field"));
}

CommandSequence BuildNextBlackMark() {
  return {QStringLiteral("Set Next BM"), QByteArray("HELLO WORLD!\x0A\x0C", 14)};
}

CommandSequence BuildNextCut() {
  return {QStringLiteral("Set Next Cut"), QByteArray("\x1D\x56\x00", 3)};
}

} // namespace pellicar
