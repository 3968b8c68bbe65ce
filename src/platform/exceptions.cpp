#include "platform/exceptions.h"

namespace pellicar {

Exception::Exception(QString message)
    : message_(std::move(message)), utf8_(message_.toStdString()) {}

EAbort::EAbort() : Exception(QStringLiteral("Operation aborted")) {}

} // namespace pellicar
