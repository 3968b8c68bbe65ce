#pragma once

#include "channels/comm.h"
#include "channels/printer_link.h"

#include <QString>

class QEventLoop;

namespace pellicar {

// A printer link over the window's serial component: its write thread
// sends, its read thread collects the answers; both report through the
// event loop that Receive and Drain run. The one way into a serial port
// for the command-line tool, sending and reading back alike.
class TSerialPrinterLink : public TPrinterLink {
public:
  // The write thread reports an empty queue once when it starts; that
  // report is awaited this long after opening, so that the next one speaks
  // of what is sent.
  static constexpr int kStartReportMs = 1000;

  // Opens `device` as the window's "Open" button does, with the computer's
  // speed and parity given (0 none, 1 odd, 2 even). Throws
  // EPrinterLinkError with the component's message, or "the port failed as
  // it was opened".
  TSerialPrinterLink(const QString &device, quint32 baudRate, int parityIndex);
  // Closes the port (see Close).
  ~TSerialPrinterLink() override;

  // Queues `bytes` to the write thread; throws "the port did not take the
  // commands" when it refused them (closed, or a thread failed).
  void Send(const QByteArray &bytes, const QDeadlineTimer &deadline) override;
  bool Receive(QByteArray &into, const QDeadlineTimer &deadline) override;
  // Waits until the write thread has written everything queued to the
  // driver. Throws "writing to the port failed" on a hang-up, and "timed
  // out after S s waiting for the port to take the data" when the deadline
  // (of `timeoutMs`) passes first.
  void Drain(const QDeadlineTimer &deadline) override;
  void DiscardInput() override { received_.clear(); }

  // Closes the port, letting the driver send what was written within the
  // close's bound; returns how many bytes it threw away (0: none). Once.
  quint64 Close() override;
  // " (N of T bytes were not written to the port)" for what the close
  // threw away.
  QString LossNote(qint64 sent, qint64 total, quint64 lost) const override;

private:
  enum class Report { None, QueueEmpty, Hangup, TimedOut };
  Report AwaitReport(const QDeadlineTimer &deadline);

  TComm comm_;
  QByteArray received_;
  bool hungUp_ = false;
  bool emptied_ = false;          // the write queue ran empty since the last Send
  quint64 discarded_ = 0;         // what closing threw away
  QEventLoop *waiting_ = nullptr; // the loop of Receive or Drain while it waits
};

} // namespace pellicar
