#pragma once

#include "channels/custom_win_socket.h"
#include "firmware/firmware_check.h"

#include <QString>

namespace pellicar {

// The detail texts of the window's error boxes: the reason behind a fixed
// main text. Pure; any thread.

// "/path/fw.bin: word sum is not zero." (the check that failed, as the
// command-line tool says it).
QString FirmwareDetail(const QString &path, FirmwareVerdict verdict);

// "Could not connect to 127.0.0.1:9100: Connection refused." The code is
// the one the TCP client's error event carries (a system error number, a
// negative lookup error, or the code for "no address").
QString ConnectErrorDetail(const QString &host, int port, TErrorEvent kind, int code);

// One channel's failed send: "\"Driver\" (receipt): the print server refused
// the job (...)." (the channel as the radio group names it, `where` the
// queue, port or address).
QString SendFailureDetail(const QString &channel, const QString &where, const QString &cause);

} // namespace pellicar
