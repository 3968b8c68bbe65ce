#pragma once

#include <QByteArray>
#include <QString>

namespace pellicar {

// One command sequence of an action: the bytes the printer receives, and the
// document name under which the spooler files them as a raw job (the serial
// and TCP channels send only the bytes). An action hands its sequences to
// the dispatch in the order they are to be sent.
struct CommandSequence {
  QString documentName;
  QByteArray bytes;

  friend bool operator==(const CommandSequence &, const CommandSequence &) = default;
};

} // namespace pellicar
