#pragma once

#include "channels/channel_choice.h"
#include "cli/delivery.h"

namespace pellicar {

// --tcp HOST[:PORT], --serial DEVICE and --device PATH: the one send loop
// of the two-way channels. It opens the channel's printer link
// (OpenPrinterLink: each link opens its device its own way), then, the
// same for every link, hands each sequence over in pieces (so that the
// bar moves and the bound counts from the last piece taken) and drains it,
// or, to a link that counts what the printer acknowledged (TCP), hands the
// whole job over as one transfer whose count moves the bar, restarts the
// bound and tells which sequences arrived whole; then closes the link and
// reports what was lost. `timeoutMs` bounds each wait: for the link to open
// ("timed out after S s waiting for the connection"), to take the next
// piece, to make progress draining a sequence; one that runs out is "the
// printer took no data for S s; it has N of T bytes". Success means every
// byte was taken and drained and the close threw nothing away; anything
// else is raised as ESendFailed naming the place, with the sequences
// drained whole before the failure as its confirmedSequences. A stream
// shows a progress bar when `showProgress`. Main thread.
class TLinkDelivery : public TDelivery {
public:
  TLinkDelivery(ChannelChoice channel, int timeoutMs, bool showProgress)
      : channel_(std::move(channel)), timeoutMs_(timeoutMs), showProgress_(showProgress) {}
  void Deliver(const CliJob &job) override;

private:
  ChannelChoice channel_;
  int timeoutMs_;
  bool showProgress_;
};

} // namespace pellicar
