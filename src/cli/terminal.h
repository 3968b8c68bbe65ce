#pragma once

#include <QByteArray>

namespace pellicar {

enum class StandardStream { Output, Error };

// Whether the stream is a terminal (and so a person is watching it).
bool IsTerminal(StandardStream stream);

// Writes all of `bytes` to the stream and flushes it; false when the write
// failed (a full disk, a closed pipe). Standard output is binary: nothing
// is translated.
bool WriteStandard(StandardStream stream, const QByteArray &bytes);

} // namespace pellicar
