#pragma once

#include <QString>

namespace pellicar {

// What a path names, as far as a channel that opens it cares.
enum class PathKind {
  Missing, // nothing there (or not reachable)
  Folder,
  RegularFile,
  Fifo,
  Socket,
  BlockDevice,
  Terminal,        // a character device of the terminal class: a serial port
  CharacterDevice, // another character device (a printer device, /dev/null)
};

struct PathInfo {
  PathKind kind = PathKind::Missing;
  // Of a character device: the kernel's class for it ("tty", "mem",
  // "usbmisc"); empty when the system does not say (pseudo terminals).
  QString deviceClass;
};

// Looks at `path` without opening it (opening a serial port may move its
// modem lines). Follows links, as opening would. Any thread.
PathInfo ClassifyPath(const QString &path);

// "a regular file", "a FIFO (named pipe)", "a character device of the class
// \"mem\"": what a message says the path is.
QString DescribePath(const PathInfo &info);

} // namespace pellicar
