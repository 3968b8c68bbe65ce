#pragma once

#include <QString>

#include <exception>
#include <string>

namespace pellicar {

// Base of every error the program reports to the user. The message is the
// text shown in the error box, without the full stop that the top-level
// handler may append.
class Exception : public std::exception {
public:
  explicit Exception(QString message);

  const QString &message() const noexcept { return message_; }
  const char *what() const noexcept override { return utf8_.c_str(); }

  // Why, in more words, for the box's detail text (the message itself is
  // often a fixed text); empty when there is nothing to add.
  const QString &detail() const noexcept { return detail_; }
  void setDetail(const QString &detail) { detail_ = detail; }

private:
  QString message_;
  QString detail_;
  std::string utf8_;
};

// The silent abort: ends the current handler without any message. The
// top-level handler swallows it.
class EAbort : public Exception {
public:
  EAbort();
};

} // namespace pellicar
