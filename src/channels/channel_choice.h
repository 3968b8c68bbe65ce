#pragma once

#include <QString>
#include <QtGlobal>

namespace pellicar {

// Where the bytes go: the channel a command line chose. None prints them
// (the dry run). Tcp, Serial and Device are two-way (OpenPrinterLink);
// Queue and Output only take bytes.
struct ChannelChoice {
  enum class Kind { None, Tcp, Serial, Queue, Output, Device };
  Kind kind = Kind::None;
  QString target;      // host, serial port, queue name, file ("-": standard output) or device file
  quint16 port = 9100; // Tcp
  quint32 baudRate = 19200; // Serial: the computer's side of the line
  int parityIndex = 0;      // Serial: 0 none, 1 odd, 2 even

  // "HOST:PORT", or the target's name: the place messages name.
  QString Where() const {
    if (kind == Kind::Tcp)
      return QStringLiteral("%1:%2").arg(target).arg(port);
    return target;
  }
};

} // namespace pellicar
