#pragma once

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <initializer_list>
#include <memory>

namespace pellicar {

// The serial port as the serial component and its two threads see it: an
// exclusively opened character device with a line-settings record, a
// timeouts record, and blocking operations that end early when a stop
// signal is set. One implementation per operating system
// (posix_serial_device.cpp on Linux, over termios).

// Flag word of the line-settings record. The values are the ones the
// component has always used, so that a record means the same on every
// system.
namespace comm_flag {
inline constexpr quint32 kBinary = 0x0001;
inline constexpr quint32 kParity = 0x0002;         // check received parity
inline constexpr quint32 kOutxCtsFlow = 0x0004;    // output waits for CTS
inline constexpr quint32 kOutxDsrFlow = 0x0008;    // output waits for DSR
inline constexpr quint32 kDtrEnable = 0x0010;      // DTR on
inline constexpr quint32 kDtrHandshake = 0x0020;   // DTR as input flow control
inline constexpr quint32 kDtrMask = 0x0030;        // 0: DTR off
inline constexpr quint32 kDsrSensitivity = 0x0040; // ignore input while DSR is off
inline constexpr quint32 kTxContinueOnXoff = 0x0080;
inline constexpr quint32 kOutX = 0x0100;      // output obeys XOFF/XON from the other side
inline constexpr quint32 kInX = 0x0200;       // the port sends XOFF/XON as its input fills
inline constexpr quint32 kErrorChar = 0x0400; // replace bytes with parity errors
inline constexpr quint32 kNull = 0x0800;      // discard received null bytes
inline constexpr quint32 kRtsEnable = 0x1000;
inline constexpr quint32 kRtsHandshake = 0x2000;
inline constexpr quint32 kRtsToggle = 0x3000; // RTS on while sending
inline constexpr quint32 kRtsMask = 0x3000;   // 0: RTS off
inline constexpr quint32 kAbortOnError = 0x4000;
} // namespace comm_flag

// The line settings. On Linux the device maps it to termios as follows:
// - BaudRate: any speed the driver takes, standard or not; 0 and a speed
//   the driver refuses leave the line as it was (SetState returns false).
// - ByteSize 5..8 -> CS5..CS8; Parity 0 none, 1 odd, 2 even, 3 mark,
//   4 space (mark and space through CMSPAR); StopBits 0 one, 1 one and a
//   half, 2 two (both of the latter are CSTOPB: the UART makes 1.5 of it
//   with 5 data bits).
// - kParity -> INPCK: a byte received with a parity error is read as 0.
// - kInX -> IXOFF, kOutX -> IXON, XonChar/XoffChar -> VSTART/VSTOP.
// - kOutxCtsFlow or kRtsHandshake -> CRTSCTS (Linux couples CTS output
//   flow and RTS input flow in one switch).
// - DTR and RTS on or off through the modem-control calls; handshake and
//   toggle modes leave the line to the driver. A device without modem
//   lines (a pseudo terminal) ignores them.
// - Always raw: no echo, no line editing, no signals, no output
//   processing; CLOCAL, so that a dropped carrier does not hang the port
//   up; CREAD.
// Linux cannot express XonLim, XoffLim, kTxContinueOnXoff, kOutxDsrFlow,
// kDsrSensitivity, DTR handshake, RTS toggle, kErrorChar with an ErrorChar
// other than 0, kNull, EofChar and EvtChar. They stay in the record
// (GetState returns what was last set) and have no effect on the line.
struct TCommState {
  quint32 BaudRate = 9600;
  quint32 Flags = comm_flag::kBinary;
  quint16 XonLim = 0;
  quint16 XoffLim = 0;
  quint8 ByteSize = 8; // 5..8
  quint8 Parity = 0;   // 0..4
  quint8 StopBits = 0; // 0..2
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};

// Read and write timeouts in milliseconds. A read collects up to the size
// asked for and ends early when the line has been quiet for
// ReadIntervalTimeout after a byte (0: no interval limit; 0xFFFFFFFF:
// take what is there and return). The read totals limit the whole read:
// multiplier * size + constant, counted from the first byte (0 and 0: no
// limit). The write totals limit each write the same way, counted from the
// write's start.
struct TCommTimeouts {
  quint32 ReadIntervalTimeout = 0;
  quint32 ReadTotalTimeoutMultiplier = 0;
  quint32 ReadTotalTimeoutConstant = 0;
  quint32 WriteTotalTimeoutMultiplier = 0;
  quint32 WriteTotalTimeoutConstant = 0;
};

// Line events a read thread watches (SetEventMask, WaitInput).
namespace comm_event {
inline constexpr quint32 kRlsd = 0x0020; // carrier detect changed
inline constexpr quint32 kErr = 0x0080;  // a line error occurred (see ClearError)
inline constexpr quint32 kRing = 0x0100; // ring indicated
} // namespace comm_event

// Line-error flags returned by ClearError.
namespace comm_error {
inline constexpr quint32 kRxOver = 0x0001;   // the driver's input buffer overflowed
inline constexpr quint32 kOverrun = 0x0002;  // the UART lost a byte
inline constexpr quint32 kRxParity = 0x0004; // parity error
inline constexpr quint32 kFrame = 0x0008;    // framing error
inline constexpr quint32 kBreak = 0x0010;    // break received
} // namespace comm_error

// Purge flags.
namespace comm_purge {
inline constexpr quint32 kTxAbort = 0x0001;
inline constexpr quint32 kRxAbort = 0x0002;
inline constexpr quint32 kTxClear = 0x0004;
inline constexpr quint32 kRxClear = 0x0008;
} // namespace comm_purge

// An event that threads wait on together with the port: manual reset (it
// stays set until Reset) or automatic (a wait that reports it clears it).
// Set, Reset and IsSet may be called from any thread.
class TSerialSignal {
public:
  // Returns nullptr when the system has no handle left for it.
  static std::unique_ptr<TSerialSignal> Create(bool manualReset);
  ~TSerialSignal();
  TSerialSignal(const TSerialSignal &) = delete;
  TSerialSignal &operator=(const TSerialSignal &) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

  struct Impl;

private:
  explicit TSerialSignal(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  friend struct TSerialSignalAccess;
};

// Waits until one of `handles` is set and returns its index (clearing it if
// it resets automatically), or kWaitTimeout after `timeoutMs` (-1: no
// limit), or kWaitFailed.
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;
int WaitForSignals(std::initializer_list<const TSerialSignal *> handles, int timeoutMs);

// Outcome of a device operation. Closed: the device was closed under the
// caller (the thread ends without a report). Failed: any other error, such
// as the device going away (the thread reports a hang-up).
enum class TIoStatus { Ok, Stopped, TimedOut, Closed, Failed };

enum class TInputWait { Stop, Input, LineEvent, Closed, Failed };

enum class TSerialOpenError { None, CannotOpen, NotComm };

class TSerialDevice {
public:
  virtual ~TSerialDevice() = default; // closes the device

  // A signal for the threads that use this device (the stop event, a
  // queue's wake-up). nullptr when none can be made.
  virtual std::unique_ptr<TSerialSignal> CreateSignal(bool manualReset) {
    return TSerialSignal::Create(manualReset);
  }

  // Driver queue sizes. The Linux tty layer has fixed queues; there it
  // accepts any size.
  virtual bool SetupQueues(quint32 inputSize, quint32 outputSize) = 0;
  // Discards the driver's input and/or output queue (comm_purge flags). The
  // threads' operations end through the stop signal, not through this.
  virtual bool Purge(quint32 flags) = 0;
  virtual bool GetState(TCommState &state) = 0;
  virtual bool SetState(const TCommState &state) = 0;
  virtual bool SetTimeouts(const TCommTimeouts &timeouts) = 0;
  // Bytes written but not yet sent by the driver (0 when it cannot tell).
  virtual quint32 PendingOutput() = 0;

  // The read thread's side. SetEventMask chooses the line events that
  // WaitInput reports. A device that cannot report them (a pseudo
  // terminal has no modem lines and no error counters) accepts the mask
  // and reports none; it is then not watched at all.
  virtual bool SetEventMask(quint32 mask) = 0;
  // Blocks until input is there (Input), a watched line event happened
  // (LineEvent, `events` = comm_event bits), `stop` is set, or the device
  // fails.
  virtual TInputWait WaitInput(const TSerialSignal &stop, quint32 &events) = 0;
  // Reads what is there into `buffer` and goes on collecting, by the
  // timeouts, until `size` bytes are in. Ok with `count` > 0; Stopped when
  // `stop` was set meanwhile (the bytes are dropped); Failed when the
  // other side hung up before a byte came.
  virtual TIoStatus Read(char *buffer, std::size_t size, std::size_t &count,
                         const TSerialSignal &stop) = 0;
  // The line errors since the last call (comm_error flags), cleared.
  virtual TIoStatus ClearError(quint32 &errors) = 0;

  // The write thread's side. Writes some of the bytes: Ok with `written`
  // > 0; TimedOut when the write totals passed with nothing written;
  // Stopped when `stop` was set first.
  virtual TIoStatus Write(const char *data, std::size_t size, std::size_t &written,
                          const TSerialSignal &stop) = 0;
  // Blocks until the driver has sent what was written, or `stop` is set.
  virtual TIoStatus WaitUntilSent(const TSerialSignal &stop) = 0;
};

// Opens `name` exactly as given (nothing prefixed), for reading and
// writing, exclusively: a second opener, root included, fails with
// CannotOpen. A name that is not a terminal character device fails with
// NotComm and leaves nothing open. Main thread or any other.
std::unique_ptr<TSerialDevice> OpenSerialDevice(const QString &name, TSerialOpenError &error);

} // namespace pellicar
