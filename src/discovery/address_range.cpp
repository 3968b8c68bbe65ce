#include "discovery/address_range.h"

#include <QSet>

namespace pellicar {

namespace {

// Strict dotted quad: four decimal numbers up to 255, nothing else (no
// octal or hexadecimal forms, no short forms such as "10.1").
bool ReadAddress(const QString &text, quint32 &address) {
  const QStringList parts = text.trimmed().split(QLatin1Char('.'));
  if (parts.size() != 4)
    return false;
  address = 0;
  for (const QString &part : parts) {
    if (part.isEmpty() || part.size() > 3)
      return false;
    for (QChar c : part)
      if (c < QLatin1Char('0') || c > QLatin1Char('9'))
        return false;
    const uint value = part.toUInt();
    if (value > 255)
      return false;
    address = (address << 8) | value;
  }
  return true;
}

[[noreturn]] void Unreadable(const QString &range) {
  throw ERangeError(QStringLiteral("'%1' is not a range: write 192.168.1.0/24, "
                                   "10.0.0.10-10.0.0.60 or one address")
                        .arg(range));
}

[[noreturn]] void TooMany() {
  throw ERangeError(
      QStringLiteral("the ranges hold more than %1 addresses; scan at most that many at once")
          .arg(kMaxScanAddresses));
}

} // namespace

std::vector<quint32> ParseAddressRanges(const QStringList &ranges) {
  std::vector<quint32> addresses;
  QSet<quint32> seen;
  auto add = [&](quint64 first, quint64 last) {
    if (last - first + 1 > quint64(kMaxScanAddresses))
      TooMany();
    for (quint64 a = first; a <= last; ++a) {
      if (seen.contains(quint32(a)))
        continue;
      if (addresses.size() >= size_t(kMaxScanAddresses))
        TooMany();
      seen.insert(quint32(a));
      addresses.push_back(quint32(a));
    }
  };
  for (const QString &range : ranges) {
    quint32 first = 0;
    quint32 last = 0;
    if (const qsizetype slash = range.indexOf(QLatin1Char('/')); slash >= 0) {
      bool ok = false;
      const QString bitsText = range.mid(slash + 1).trimmed();
      const uint bits = bitsText.toUInt(&ok);
      if (!ReadAddress(range.left(slash), first) || !ok || bits > 32 ||
          bitsText.startsWith(QLatin1Char('+')))
        Unreadable(range);
      const quint32 mask = bits == 0 ? 0 : ~quint32(0) << (32 - bits);
      first &= mask;
      last = first | ~mask;
      if (bits <= 30) {
        ++first;
        --last;
      }
    } else if (const qsizetype dash = range.indexOf(QLatin1Char('-')); dash >= 0) {
      if (!ReadAddress(range.left(dash), first) || !ReadAddress(range.mid(dash + 1), last))
        Unreadable(range);
      if (last < first)
        throw ERangeError(
            QStringLiteral("'%1' runs backwards: write the lower address first").arg(range));
    } else {
      if (!ReadAddress(range, first))
        Unreadable(range);
      last = first;
    }
    add(first, last);
  }
  return addresses;
}

QString Slash24Of(const QString &address) {
  quint32 value = 0;
  if (!ReadAddress(address, value))
    return {};
  return DottedAddress(value & 0xFFFFFF00u) + QStringLiteral("/24");
}

QString DottedAddress(quint32 address) {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(address >> 24)
      .arg((address >> 16) & 0xFF)
      .arg((address >> 8) & 0xFF)
      .arg(address & 0xFF);
}

} // namespace pellicar
