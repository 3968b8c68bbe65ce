#pragma once

#include "platform/exceptions.h"

#include <QString>

namespace pellicar {

// The tool's exit statuses.
enum class ExitStatus : int {
  Sent = 0,       // everything was sent (or printed, or checked and found good)
  SendFailed = 1, // a channel failed: not connected, timed out, refused, no trusted answer
  BadInput = 2,   // bad usage, or a value or file the window would refuse too
  NotReady = 3,   // the printer answered that it is not ready to print
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

// Sending failed; the message says what and where. A job of several
// sequences also says how far it got: how many of its sequences, from the
// first, the channel confirmed whole before the failure (-1: it cannot
// tell), so that a caller sending sections can name the ones that arrived.
class ESendFailed : public Exception {
public:
  explicit ESendFailed(const QString &message, int confirmedSequences = -1)
      : Exception(message), confirmedSequences_(confirmedSequences) {}
  int confirmedSequences() const noexcept { return confirmedSequences_; }

private:
  int confirmedSequences_;
};

// What every command says when standard output does not take its text.
inline constexpr char kStandardOutputFailed[] = "Writing to standard output failed";

// The message as the window's error box shows it: with a full stop
// appended when its last character sorts after ".".
QString WithFullStop(const QString &message);

} // namespace pellicar
