#include "channels/dispatch.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace pellicar {
namespace {

// Records every send as "channel:document" and fails the channels named.
class RecordingSinks : public OutputSinks {
public:
  bool SpoolerSend(const CommandSequence &s) override { return take("spooler", s); }
  bool SerialSend(const CommandSequence &s) override { return take("serial", s); }
  bool TcpSend(const CommandSequence &s) override { return take("tcp", s); }

  std::vector<std::string> sends;
  std::set<std::string> failing;      // channels whose every send fails
  std::set<std::string> failingSends; // "channel:document" that fail

private:
  bool take(const std::string &channel, const CommandSequence &s) {
    const std::string send = channel + ":" + s.documentName.toStdString();
    sends.push_back(send);
    return !failing.count(channel) && !failingSends.count(send);
  }
};

const std::vector<CommandSequence> kBase = {
    {QStringLiteral("Base Parameter"), QByteArray(11, '\0')},
    {QStringLiteral("PNPA"), QByteArray("\x1F\x72\x00", 3)},
    {QStringLiteral("BAP"), QByteArray("\x1F\x74\x00", 3)},
};

TEST(DispatchCommands, ServesTheActiveChannelsOneAfterAnotherInFixedOrder) {
  RecordingSinks sinks;
  const DispatchOutcome outcome = DispatchCommands({true, true, true}, sinks, kBase);
  EXPECT_EQ(outcome, DispatchOutcome::Complete);
  EXPECT_EQ(sinks.sends,
            (std::vector<std::string>{"spooler:Base Parameter", "spooler:PNPA", "spooler:BAP",
                                      "serial:Base Parameter", "serial:PNPA", "serial:BAP",
                                      "tcp:Base Parameter", "tcp:PNPA", "tcp:BAP"}));
}

TEST(DispatchCommands, SendsOnlyOnActiveChannels) {
  struct Case {
    ChannelState state;
    std::vector<std::string> sends;
  };
  const Case cases[] = {
      {{true, false, false}, {"spooler:Base Parameter", "spooler:PNPA", "spooler:BAP"}},
      {{false, true, false}, {"serial:Base Parameter", "serial:PNPA", "serial:BAP"}},
      {{false, false, true}, {"tcp:Base Parameter", "tcp:PNPA", "tcp:BAP"}},
      {{false, true, true},
       {"serial:Base Parameter", "serial:PNPA", "serial:BAP", "tcp:Base Parameter", "tcp:PNPA",
        "tcp:BAP"}},
  };
  for (const Case &c : cases) {
    RecordingSinks sinks;
    EXPECT_EQ(DispatchCommands(c.state, sinks, kBase), DispatchOutcome::Complete);
    EXPECT_EQ(sinks.sends, c.sends);
  }
}

TEST(DispatchCommands, NoActiveChannelSendsNothing) {
  RecordingSinks sinks;
  EXPECT_EQ(DispatchCommands({}, sinks, kBase), DispatchOutcome::NoChannel);
  EXPECT_TRUE(sinks.sends.empty());
}

TEST(DispatchCommands, ChannelThatFailsASequenceGetsNoMoreAndCompleteNeedsOneThatTookAll) {
  struct Case {
    const char *name;
    ChannelState state;
    std::set<std::string> failing;
    std::set<std::string> failingSends;
    std::vector<std::string> sends;
    DispatchOutcome outcome;
  };
  const Case cases[] = {
      {"the only channel fails the second of three",
       {true, false, false},
       {},
       {"spooler:PNPA"},
       {"spooler:Base Parameter", "spooler:PNPA"},
       DispatchOutcome::SendFailed},
      {"every channel fails its first",
       {true, false, true},
       {"spooler", "tcp"},
       {},
       {"spooler:Base Parameter", "tcp:Base Parameter"},
       DispatchOutcome::SendFailed},
      {"the spooler fails, the serial line takes all",
       {true, true, false},
       {"spooler"},
       {},
       {"spooler:Base Parameter", "serial:Base Parameter", "serial:PNPA", "serial:BAP"},
       DispatchOutcome::Complete},
      {"TCP fails its last, the spooler took all",
       {true, false, true},
       {},
       {"tcp:BAP"},
       {"spooler:Base Parameter", "spooler:PNPA", "spooler:BAP", "tcp:Base Parameter", "tcp:PNPA",
        "tcp:BAP"},
       DispatchOutcome::Complete},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSinks sinks;
    sinks.failing = c.failing;
    sinks.failingSends = c.failingSends;
    EXPECT_EQ(DispatchCommands(c.state, sinks, kBase), c.outcome);
    EXPECT_EQ(sinks.sends, c.sends);
  }
}

TEST(DispatchCommands, OutcomeTexts) {
  EXPECT_EQ(OutcomeText(DispatchOutcome::Complete), QStringLiteral("Complete !"));
  EXPECT_EQ(OutcomeText(DispatchOutcome::SendFailed), QStringLiteral("Send Failed !"));
  EXPECT_EQ(OutcomeText(DispatchOutcome::NoChannel),
            QStringLiteral("Enable The Communication Port First!"));
}

} // namespace
} // namespace pellicar
