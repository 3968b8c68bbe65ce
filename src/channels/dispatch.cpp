#include "channels/dispatch.h"

namespace pellicar {

namespace {

// Every sequence is offered even after one failed, as each is a command of
// its own; the channel counts as having taken the action only if all went.
template <typename Send> bool sendAll(const std::vector<CommandSequence> &sequences, Send send) {
  bool all = true;
  for (const CommandSequence &sequence : sequences)
    all = send(sequence) && all;
  return all;
}

} // namespace

DispatchOutcome DispatchCommands(const ChannelState &state, OutputSinks &sinks,
                                 const std::vector<CommandSequence> &sequences) {
  if (!state.any())
    return DispatchOutcome::NoChannel;
  bool taken = false;
  if (state.spoolerSelected)
    taken =
        sendAll(sequences, [&](const CommandSequence &s) { return sinks.SpoolerSend(s); }) || taken;
  if (state.serialOpen)
    taken =
        sendAll(sequences, [&](const CommandSequence &s) { return sinks.SerialSend(s); }) || taken;
  if (state.tcpConnected)
    taken = sendAll(sequences, [&](const CommandSequence &s) { return sinks.TcpSend(s); }) || taken;
  return taken ? DispatchOutcome::Complete : DispatchOutcome::SendFailed;
}

QString OutcomeText(DispatchOutcome outcome) {
  switch (outcome) {
  case DispatchOutcome::Complete:
    return QStringLiteral("Complete !");
  case DispatchOutcome::SendFailed:
    return QStringLiteral("Send Failed !");
  case DispatchOutcome::NoChannel:
    break;
  }
  return QStringLiteral("Enable The Communication Port First!");
}

} // namespace pellicar
