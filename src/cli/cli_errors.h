#pragma once

#include "platform/exceptions.h"

#include <QString>

namespace pellicar {

// The tool's exit statuses.
enum class ExitStatus : int {
  Sent = 0,       // everything was sent (or printed, or checked and found good)
  SendFailed = 1, // a channel failed: not connected, timed out, refused
  BadInput = 2,   // bad usage, or a value or file the window would refuse too
};

// The command line does not say what to do: an unknown command or option,
// a missing or extra argument. `command` names the command whose help the
// hint points to (empty: the tool's).
class EUsageError : public Exception {
public:
  EUsageError(const QString &message, const QString &command = {});
  const QString &command() const noexcept { return command_; }

private:
  QString command_;
};

// A value or a file that cannot be sent: "Invalid Firmware", "Picture
// invalid". The builders' own errors (EConvertError, ETextTooLong) count
// the same.
class EBadInput : public Exception {
public:
  using Exception::Exception;
};

// Sending failed; the message says what and where.
class ESendFailed : public Exception {
public:
  using Exception::Exception;
};

// What every command says when standard output does not take its text.
inline constexpr char kStandardOutputFailed[] = "Writing to standard output failed";

// The message as the window's error box shows it: with a full stop
// appended when its last character sorts after ".".
QString WithFullStop(const QString &message);

} // namespace pellicar
