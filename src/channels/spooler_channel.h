#pragma once

#include "platform/spooler.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QIODevice;

namespace pellicar {

// The spooler channel: every send is one complete raw job (one document,
// one page) to `printer`, a queue name as the printer list shows it,
// opened and closed within the call, so that no job or printer stays open
// afterwards. The job is titled `documentName`. An empty `printer` (nothing
// selected) sends nothing and opens nothing.
//
// Neither call raises or shows anything; failures are only returned. Both
// are synchronous and return when the spooler has taken or refused the
// job; `spooler` bounds every wait (about a second for a dead server).
// Called on one thread at a time with a given spooler (the window's main
// thread).

// Bytes of a stream handed to the spooler per write.
inline constexpr int kRawStreamPiece = 1024;

// Sends `data` in one write. Returns the number of bytes the spooler
// accepted, or 0 when no job could be made (no printer, printer not found,
// job or page refused). Data beyond the 32-bit count are not sent: 0.
qint32 SendRawBuffer(Spooler &spooler, const QString &printer, const QString &documentName,
                     const QByteArray &data);

// Sends `stream` from its current position to its end, in writes of
// kRawStreamPiece bytes (the last one shorter). A read that returns 0 is
// the end. True when all of it was accepted and the job was closed; an
// empty rest makes a job without data and is true. False when no job could
// be made, a write fell short (the rest is not sent), or the stream is not
// open for reading (nothing is opened) or fails to read (the job is
// cancelled rather than printed truncated). The stream stays the caller's
// and is left where reading stopped.
bool SendRawStream(Spooler &spooler, const QString &printer, const QString &documentName,
                   QIODevice &stream);

} // namespace pellicar
