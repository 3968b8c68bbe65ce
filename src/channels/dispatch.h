#pragma once

#include "commands/command_sequence.h"

#include <QString>
#include <vector>

namespace pellicar {

// Which output channels are active: the spooler while "Driver：" is chosen,
// the serial port while it is open, TCP while connected. Normally one; the
// dispatch does not rely on it.
struct ChannelState {
  bool spoolerSelected = false;
  bool serialOpen = false;
  bool tcpConnected = false;

  bool any() const { return spoolerSelected || serialOpen || tcpConnected; }
};

// The three ways out, as the dispatch sees them. Each call sends one
// command sequence and says whether its channel took it whole: the spooler
// wrote the whole job, the serial port queued it, the TCP connection
// accepted every byte for sending.
class OutputSinks {
public:
  virtual ~OutputSinks() = default;
  virtual bool SpoolerSend(const CommandSequence &sequence) = 0;
  virtual bool SerialSend(const CommandSequence &sequence) = 0;
  virtual bool TcpSend(const CommandSequence &sequence) = 0;
};

enum class DispatchOutcome {
  Complete,   // at least one active channel took every sequence
  SendFailed, // channels were active, none took every sequence
  NoChannel,  // nothing was active; nothing was sent
};

// Hands the sequences of one action to every active channel, channel by
// channel in the order spooler, serial, TCP (each channel gets all of them
// before the next one gets the first), and tells the outcome. A channel
// that fails a sequence gets none of the action's later ones. Main thread.
// Exceptions of a channel (a TCP send that aborts the action) pass through.
DispatchOutcome DispatchCommands(const ChannelState &state, OutputSinks &sinks,
                                 const std::vector<CommandSequence> &sequences);

// The status panel's text for an outcome: "Complete !", "Send Failed !",
// "Enable The Communication Port First!".
QString OutcomeText(DispatchOutcome outcome);

} // namespace pellicar
