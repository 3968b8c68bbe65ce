#pragma once

#include "platform/exceptions.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

namespace pellicar {

// A range the user wrote that cannot be scanned; the message says why.
class ERangeError : public Exception {
public:
  using Exception::Exception;
};

// The most addresses one discovery scans: a /20. Larger networks are not
// one shop's printers, and a scan of them would take minutes.
inline constexpr int kMaxScanAddresses = 4096;

// The IPv4 addresses (host byte order) of the ranges written as
// "192.168.1.0/24" (the network's own and broadcast addresses left out
// up to a /30), "10.0.0.10-10.0.0.60" (both ends included) or a single
// address, in the order given, each address once. Throws ERangeError for a
// range that does not read, runs backwards, or when all together hold more
// than kMaxScanAddresses. Pure; any thread.
std::vector<quint32> ParseAddressRanges(const QStringList &ranges);

// The /24 around the dotted address `address` ("192.168.1.100" gives
// "192.168.1.0/24"); empty when `address` is no dotted IPv4 address.
QString Slash24Of(const QString &address);

// "a.b.c.d".
QString DottedAddress(quint32 address);

} // namespace pellicar
