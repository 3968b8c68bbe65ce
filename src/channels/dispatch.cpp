#include "channels/dispatch.h"

#include <algorithm>

namespace pellicar {

namespace {

// A channel that failed one sequence of an action is offered none of the
// rest: the action has failed on it already, its later commands would
// apply without the earlier one, and a channel that fails by running out
// its time (a print server that stopped answering) would spend it again on
// each. The channel counts as having taken the action only if all went.
template <typename Send> bool sendAll(const std::vector<CommandSequence> &sequences, Send send) {
  return std::all_of(sequences.begin(), sequences.end(), send);
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
