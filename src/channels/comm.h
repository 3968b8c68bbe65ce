#pragma once

#include "platform/exceptions.h"
#include "platform/serial_device.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

class QEvent;

namespace pellicar {

class TCommWindow;
class TCommReporter;
class TReadThread;
class TWriteThread;

// Raised by TComm::OpenPort; the message is the text shown to the user.
class ECommsError : public Exception {
public:
  using Exception::Exception;
};

// Ordinals are the values the line-settings record takes.
enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };
enum class TByteSize { _5, _6, _7, _8 };

class TComm;
using TReceiveDataEvent =
    std::function<void(TComm &sender, const char *buffer, quint16 bufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm &sender, quint32 eventMask)>;
using TModemStateChangeEvent = std::function<void(TComm &sender, quint32 modemEvent)>;
using TNotifyEvent = std::function<void(TComm &sender)>;
using TSendDataEmptyEvent = std::function<void(TComm &sender)>;
using TSendDataDiscardedEvent = std::function<void(TComm &sender, quint64 byteCount)>;

// Opens the device behind a port name; the platform's OpenSerialDevice
// unless a test injects another.
using TSerialDeviceOpener =
    std::function<std::unique_ptr<TSerialDevice>(const QString &name, TSerialOpenError &error)>;

// A serial port with a read thread and a write thread (comm_threads.h).
// The thread that uses it never waits for the port: SendData copies the
// bytes and queues the copy. What the threads observe comes back as events
// raised on the thread that created the component.
//
// Everything here runs on the creating thread (the main thread), which
// must run a Qt event loop for the events to arrive. Handlers must not
// throw and must not destroy the component; they may call ClosePort.
class TComm {
public:
  TComm();
  explicit TComm(TSerialDeviceOpener opener);
  // Closes the port first when it is open: no thread outlives the
  // component. No event is raised from here, as whoever handles them may
  // be gone: an owner that wants to hear what the close threw away calls
  // ClosePort itself first.
  ~TComm();
  TComm(const TComm &) = delete;
  TComm &operator=(const TComm &) = delete;

  // The values the main window's form gives its component: "COM4", 19200,
  // no output XON/XOFF, TxContinueOnXoff off; the rest as constructed.
  void LoadFormValues();

  // Opens CommName exactly as stored, exclusively, throws away input that
  // arrived before (never output a previous writer left on its way),
  // applies the timeouts and then the line settings, and starts both
  // threads. The read thread
  // watches only the line events whose handler is assigned now (line
  // errors for OnReceiveError, carrier detect and ring for
  // OnModemStateChange): on Linux the modem lines can only be looked at
  // periodically, which wakes the process ten times a second. Raises
  // ECommsError with one of the messages below and leaves the component
  // closed with nothing allocated (except for the first, which leaves an
  // open port as it was):
  //   "This serial port already opened", "Error opening serial port",
  //   "File handle is not a comm handle ", "Cannot setup comm buffer",
  //   "Unable to create event", "Unable to create read thread",
  //   "Unable to create write thread".
  void OpenPort();

  // Nothing when closed. Otherwise lets the write thread write what is
  // queued and the driver send it, for at most the time those bytes need
  // at the speed the driver applied, plus one second, and never beyond the
  // write thread's 10 s; then stops both threads, closes the port and
  // drops the reports of the threads not yet handled. Blocks at most 10 s
  // for each thread, the wait for the output included. Output left
  // behind is thrown away and counted: OnSendDataDiscarded is raised,
  // after the port has closed, with the bytes accepted by SendData that
  // were never written or that the driver still held (a driver that
  // cannot tell what it holds, such as a pseudo terminal's, counts them as
  // written).
  void ClosePort();

  bool Opened() const { return device_ != nullptr; }

  // Queues a copy of the bytes to the write thread; true when it was
  // queued (not when written: a failed write shows only as
  // OnRequestHangup). False, taking nothing, when the port is closed, the
  // length is 0, the write thread has given up, or it would then hold more
  // than a mebibyte unwritten (TWriteThread::kQueueLimit). Requests are
  // written in call order.
  bool SendData(const char *buffer, quint16 length);
  // The same for a whole array; false for more than 65 535 bytes.
  bool SendData(const QByteArray &bytes);
  // Bytes queued and not yet handed to the driver (0 when closed). Main
  // thread. A "send data empty" report read later than it was posted may
  // speak of an earlier run of the queue: this tells whether it still holds.
  quint64 UnwrittenBytes() const;

  // Builds the whole line-settings record from the properties and applies
  // it; a record the driver refuses is not reported. Nothing when closed.
  void ApplyCommState();
  // Applies the five timeouts. Nothing when closed.
  void ApplyCommTimeouts();

  // Properties. CommName and Parity are plain values: a new name counts
  // at the next OpenPort, a new parity at the next ApplyCommState. Every
  // other setter does nothing when the value is unchanged, and re-applies
  // at once while the port is open: the line settings (the whole record)
  // or the timeouts.
  const QString &CommName() const { return commName_; }
  void SetCommName(const QString &name) { commName_ = name; }
  TParity Parity() const { return parity_; }
  void SetParity(TParity parity) { parity_ = parity; }

  quint32 BaudRate() const { return baudRate_; }
  void SetBaudRate(quint32 value) { SetStateValue(baudRate_, value); }
  bool ParityCheck() const { return parityCheck_; }
  void SetParityCheck(bool value) { SetStateValue(parityCheck_, value); }
  bool Outx_CtsFlow() const { return outxCtsFlow_; }
  void SetOutx_CtsFlow(bool value) { SetStateValue(outxCtsFlow_, value); }
  bool Outx_DsrFlow() const { return outxDsrFlow_; }
  void SetOutx_DsrFlow(bool value) { SetStateValue(outxDsrFlow_, value); }
  TDtrControl DtrControl() const { return dtrControl_; }
  void SetDtrControl(TDtrControl value) { SetStateValue(dtrControl_, value); }
  bool DsrSensitivity() const { return dsrSensitivity_; }
  void SetDsrSensitivity(bool value) { SetStateValue(dsrSensitivity_, value); }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value) { SetStateValue(txContinueOnXoff_, value); }
  bool Outx_XonXoffFlow() const { return outxXonXoffFlow_; }
  void SetOutx_XonXoffFlow(bool value) { SetStateValue(outxXonXoffFlow_, value); }
  bool Inx_XonXoffFlow() const { return inxXonXoffFlow_; }
  void SetInx_XonXoffFlow(bool value) { SetStateValue(inxXonXoffFlow_, value); }
  bool ReplaceWhenParityError() const { return replaceWhenParityError_; }
  void SetReplaceWhenParityError(bool value) { SetStateValue(replaceWhenParityError_, value); }
  bool IgnoreNullChar() const { return ignoreNullChar_; }
  void SetIgnoreNullChar(bool value) { SetStateValue(ignoreNullChar_, value); }
  TRtsControl RtsControl() const { return rtsControl_; }
  void SetRtsControl(TRtsControl value) { SetStateValue(rtsControl_, value); }
  quint16 XonLimit() const { return xonLimit_; }
  void SetXonLimit(quint16 value) { SetStateValue(xonLimit_, value); }
  quint16 XoffLimit() const { return xoffLimit_; }
  void SetXoffLimit(quint16 value) { SetStateValue(xoffLimit_, value); }
  TByteSize ByteSize() const { return byteSize_; }
  void SetByteSize(TByteSize value) { SetStateValue(byteSize_, value); }
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value) { SetStateValue(stopBits_, value); }
  char XonChar() const { return xonChar_; }
  void SetXonChar(char value) { SetStateValue(xonChar_, value); }
  char XoffChar() const { return xoffChar_; }
  void SetXoffChar(char value) { SetStateValue(xoffChar_, value); }
  char ReplacedChar() const { return replacedChar_; }
  void SetReplacedChar(char value) { SetStateValue(replacedChar_, value); }

  quint32 ReadIntervalTimeout() const { return timeouts_.ReadIntervalTimeout; }
  void SetReadIntervalTimeout(quint32 ms) { SetTimeoutValue(timeouts_.ReadIntervalTimeout, ms); }
  quint32 ReadTotalTimeoutMultiplier() const { return timeouts_.ReadTotalTimeoutMultiplier; }
  void SetReadTotalTimeoutMultiplier(quint32 ms) {
    SetTimeoutValue(timeouts_.ReadTotalTimeoutMultiplier, ms);
  }
  quint32 ReadTotalTimeoutConstant() const { return timeouts_.ReadTotalTimeoutConstant; }
  void SetReadTotalTimeoutConstant(quint32 ms) {
    SetTimeoutValue(timeouts_.ReadTotalTimeoutConstant, ms);
  }
  quint32 WriteTotalTimeoutMultiplier() const { return timeouts_.WriteTotalTimeoutMultiplier; }
  void SetWriteTotalTimeoutMultiplier(quint32 ms) {
    SetTimeoutValue(timeouts_.WriteTotalTimeoutMultiplier, ms);
  }
  quint32 WriteTotalTimeoutConstant() const { return timeouts_.WriteTotalTimeoutConstant; }
  void SetWriteTotalTimeoutConstant(quint32 ms) {
    SetTimeoutValue(timeouts_.WriteTotalTimeoutConstant, ms);
  }

  // Events, raised on the creating thread in the order the threads
  // reported; an empty one is skipped. The buffer given to OnReceiveData
  // is valid during the call only and has a 0 byte after its last byte.
  // The component never closes the port by itself on a hang-up request.
  TReceiveDataEvent OnReceiveData;
  TReceiveErrorEvent OnReceiveError;           // eventMask: comm_error flags
  TModemStateChangeEvent OnModemStateChange;   // 8 carrier detect, 4 ring
  TNotifyEvent OnRequestHangup;                // a thread met a failure
  TSendDataEmptyEvent OnSendDataEmpty;         // the write queue ran empty
  TSendDataDiscardedEvent OnSendDataDiscarded; // ClosePort threw output away

private:
  template <typename T> void SetStateValue(T &field, T value) {
    if (field == value)
      return;
    field = value;
    ApplyCommState();
  }
  void SetTimeoutValue(quint32 &field, quint32 value) {
    if (field == value)
      return;
    field = value;
    ApplyCommTimeouts();
  }
  void StopReadThread();
  quint64 StopWriteThread(bool drained, int timeoutMs);
  void ReleasePort();
  int DrainBoundMs() const;
  void HandleReport(QEvent &event);

  TSerialDeviceOpener opener_;
  std::unique_ptr<TCommWindow> window_;
  std::unique_ptr<TCommReporter> reports_;
  std::unique_ptr<TSerialDevice> device_; // non-null: the port is open
  std::unique_ptr<TSerialSignal> stop_;   // set to make both threads end
  std::unique_ptr<TReadThread> readThread_;
  std::unique_ptr<TWriteThread> writeThread_;

  QString commName_ = QStringLiteral("COM2");
  quint32 baudRate_ = 9600;
  bool parityCheck_ = false;
  bool outxCtsFlow_ = false;
  bool outxDsrFlow_ = false;
  TDtrControl dtrControl_ = TDtrControl::DtrEnable;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = true;
  bool outxXonXoffFlow_ = true;
  bool inxXonXoffFlow_ = true;
  bool replaceWhenParityError_ = false;
  bool ignoreNullChar_ = false;
  TRtsControl rtsControl_ = TRtsControl::RtsEnable;
  quint16 xonLimit_ = 500;
  quint16 xoffLimit_ = 500;
  TByteSize byteSize_ = TByteSize::_8;
  TParity parity_ = TParity::None;
  TStopBits stopBits_ = TStopBits::_1;
  char xonChar_ = 0x11;
  char xoffChar_ = 0x13;
  char replacedChar_ = 0x00;
  TCommTimeouts timeouts_{100, 0, 0, 0, 0};
};

} // namespace pellicar
