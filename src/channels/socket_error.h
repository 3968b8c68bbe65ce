#pragma once

#include "platform/exceptions.h"

#include <QString>

namespace pellicar {

// A failure of the TCP client: of a platform call, or a socket error that
// the owner's error handler chose not to suppress.
class ESocketError : public Exception {
public:
  explicit ESocketError(QString message);

  // "Windows socket error: <text> (<code>), on API '<api>'": the message of
  // every failed platform call, with the platform's text for the code.
  static ESocketError ApiError(int code, const QString &api);

  // "Asynchronous socket error <code>": an error reported by a notification.
  static ESocketError AsyncError(int code);
};

} // namespace pellicar
