// The send loop (TLinkDelivery) over TCP against a fake printer on 127.0.0.1: when a job of several
// sequences fails, it says how many of them, from the first, the printer's
// side acknowledged whole.

#include "cli/cli_errors.h"
#include "cli/link_delivery.h"
#include "support/fake_printer.h"
#include "support/loopback_ports.h"

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::FakePrinter;

// What a failed job of sequences of `sizes` says it confirmed; -2 when it
// did not fail.
int ConfirmedOnFailure(quint16 port, std::initializer_list<qsizetype> sizes) {
  CliJob job;
  job.kind = CliJob::Kind::Commands;
  for (qsizetype size : sizes)
    job.sequences.push_back({QStringLiteral("part"), QByteArray(size, '\x1b')});
  try {
    ChannelChoice channel;
    channel.kind = ChannelChoice::Kind::Tcp;
    channel.target = QStringLiteral("127.0.0.1");
    channel.port = port;
    TLinkDelivery(channel, 1000, false).Deliver(job);
  } catch (const ESendFailed &e) {
    return e.confirmedSequences();
  }
  return -2;
}

TEST(TcpDeliveryConfirmed, CountsTheSequencesThePrinterAcknowledgedWhole) {
  // A printer that reads nothing still acknowledges what its receive
  // buffer holds (a few KiB): the two small sequences, not the large one.
  FakePrinter stalled(FakePrinter::Options{0, 4096});
  stalled.pauseReading();
  EXPECT_EQ(ConfirmedOnFailure(stalled.port(), {500, 500, 2 << 20}), 2);
  FakePrinter reading;
  EXPECT_EQ(ConfirmedOnFailure(reading.port(), {500, 2 << 20}), -2);
  const test::RefusingPort closed;
  EXPECT_EQ(ConfirmedOnFailure(closed.port(), {500}), 0);
}

} // namespace
} // namespace pellicar
