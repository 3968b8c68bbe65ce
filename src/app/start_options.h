#pragma once

#include <QStringList>

#include <optional>

namespace pellicar {

// The window's own command line, read before the toolkit starts, so that
// "--help" and "--version" answer on standard output without a display and
// without opening the window.
//
// `arguments` are the program's arguments without the program name. Returns
// the exit status when the program has answered and must end, or nothing
// when the window is to open.
std::optional<int> AnswerStartOptions(const QStringList &arguments);

// Takes the window's own options with a value out of `arguments`: each
// "--serial-port PATH" adds PATH to the returned list (the ports the
// "COM Port：" list offers besides the machine's). Nothing, after saying so
// on standard error, when one lacks its value.
std::optional<QStringList> TakeSerialPortOptions(QStringList &arguments);

// After the toolkit has taken its own options (-platform, -display...):
// any argument left is one the window does not know. Says so on standard
// error and returns the exit status; nothing when none is left.
std::optional<int> RefuseLeftoverArguments(const QStringList &arguments);

// What "pellicar --help" prints.
QString WindowUsage();

} // namespace pellicar
