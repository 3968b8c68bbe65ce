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
// are synchronous and return when the spooler has confirmed or refused the
// job, or given up on it; `spooler` bounds every wait (about a second for
// a dead server, or the deadline of the action set on it). A job counts as
// sent only when the spooler confirmed its end; one it did not is cancelled
// by the spooler, which keeps a message when the cancel went unconfirmed
// too (Spooler::TakeUnsettledJobs).
// Called on one thread at a time with a given spooler (the window's main
// thread).

// Bytes of a stream handed to the spooler per write.
inline constexpr int kRawStreamPiece = 1024;

// Sends `data` in one write. Returns the number of bytes the spooler
// accepted in a job it confirmed, or 0 when no job could be made (no
// printer, printer not found, job or page refused) or the job's end was not
// confirmed. Data beyond the 32-bit count are not sent: 0.
qint32 SendRawBuffer(Spooler &spooler, const QString &printer, const QString &documentName,
                     const QByteArray &data);

// Sends `stream` from its current position to its end, in writes of
// kRawStreamPiece bytes (the last one shorter). A read that returns 0 is
// the end. True when all of it was accepted and the spooler confirmed the
// job; an empty rest makes a job without data and is true. False when no
// job could be made, a write fell short (the rest is not sent), the job's
// end was not confirmed, or the stream is not
// open for reading (nothing is opened) or fails to read (the job is
// cancelled rather than printed truncated). The stream stays the caller's
// and is left where reading stopped.
bool SendRawStream(Spooler &spooler, const QString &printer, const QString &documentName,
                   QIODevice &stream);

} // namespace pellicar
