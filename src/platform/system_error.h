#pragma once

#include <QString>

namespace pellicar {

// How every seam names an error of the operating system: the one place
// that turns its error numbers into text. Codes are the system's error
// numbers (errno on POSIX); negative codes are those of a host lookup
// (HostResolver). Any thread.

// The system's text for `code` ("Connection refused").
QString SystemErrorText(int code);

// The text with the number, as messages show it: "Connection refused (111)".
QString SystemErrorDetail(int code);

} // namespace pellicar
