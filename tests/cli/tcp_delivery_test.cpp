// TTcpDelivery against a fake printer on 127.0.0.1: when a job of several
// sequences fails, it says how many of them, from the first, the printer's
// side acknowledged whole.

#include "cli/cli_errors.h"
#include "cli/tcp_delivery.h"
#include "support/fake_printer.h"
#include "support/loopback_ports.h"

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::FakePrinter;

CommandSequence Sequence(qsizetype size) {
  return {QStringLiteral("part"), QByteArray(size, '\x1b')};
}

int ConfirmedOnFailure(quint16 port, const std::vector<CommandSequence> &sequences) {
  CliJob job;
  job.kind = CliJob::Kind::Commands;
  job.sequences = sequences;
  TTcpDelivery delivery(QStringLiteral("127.0.0.1"), port, 1000, false);
  try {
    delivery.Deliver(job);
  } catch (const ESendFailed &e) {
    return e.confirmedSequences();
  }
  return -2; // delivered
}

TEST(TcpDeliveryConfirmed, CountsTheSequencesThePrinterAcknowledgedWhole) {
  // A printer that reads nothing still acknowledges what its receive
  // buffer holds (a few KiB): the two small sequences, not the large one.
  FakePrinter stalled(FakePrinter::Options{0, 4096});
  stalled.pauseReading();
  EXPECT_EQ(ConfirmedOnFailure(stalled.port(), {Sequence(500), Sequence(500), Sequence(2 << 20)}),
            2);
  FakePrinter reading;
  EXPECT_EQ(ConfirmedOnFailure(reading.port(), {Sequence(500), Sequence(2 << 20)}), -2);
  const test::RefusingPort closed;
  EXPECT_EQ(ConfirmedOnFailure(closed.port(), {Sequence(500)}), 0);
}

} // namespace
} // namespace pellicar
