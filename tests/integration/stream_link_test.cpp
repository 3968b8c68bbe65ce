// The stream link seam on real parts: a pseudo terminal as a printer's
// device file, and TCP on 127.0.0.1.

#include "platform/stream_link.h"
#include "support/loopback_ports.h"
#include "support/pty.h"
#include "support/wait.h"

#include <QElapsedTimer>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cerrno>

namespace pellicar::test {
namespace {

QByteArray ReadFor(StreamLink &link, int ms) {
  char buffer[64];
  qint64 count = 0;
  int error = 0;
  if (link.Read(buffer, sizeof buffer, count, QDeadlineTimer(ms), error) != LinkStatus::Ok)
    return {};
  return QByteArray(buffer, count);
}

TEST(StreamLinkTest, TerminalDeviceCarriesRawBytesBothWays) {
  TPseudoTerminal line;
  ASSERT_TRUE(line.Ok());
  int error = 0;
  std::unique_ptr<StreamLink> link = OpenDeviceLink(line.SlavePath(), error);
  ASSERT_TRUE(link) << error;

  // XON, XOFF, a carriage return and a line's end reach the reader as they
  // are, at once, and nothing is echoed back to the printer.
  const QByteArray answer = QByteArray::fromHex("11 13 0D 0A 12");
  ASSERT_TRUE(line.Send(answer));
  QByteArray got;
  ASSERT_TRUE(WaitUntil([&] {
    got += ReadFor(*link, 10);
    return got.size() >= answer.size();
  }));
  EXPECT_EQ(got, answer);

  qint64 written = 0;
  ASSERT_EQ(link->Write("\x10\x04\x01", 3, written, QDeadlineTimer(1000), error), LinkStatus::Ok);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(link->Drain(QDeadlineTimer(1000), error), LinkStatus::Ok);
  ASSERT_TRUE(line.WaitForReceived(3));
  EXPECT_EQ(line.Received().toHex(' '), "10 04 01");

  // Nothing there: the read ends at its deadline.
  char buffer[8];
  qint64 count = 0;
  EXPECT_EQ(link->Read(buffer, sizeof buffer, count, QDeadlineTimer(50), error),
            LinkStatus::TimedOut);

  // A second user of the same device is refused while the first holds it.
  EXPECT_FALSE(OpenDeviceLink(line.SlavePath(), error));
  EXPECT_EQ(error, EBUSY);

  line.CloseMaster();
  EXPECT_EQ(link->Read(buffer, sizeof buffer, count, QDeadlineTimer(1000), error),
            LinkStatus::Closed);
}

TEST(StreamLinkTest, RefusesWhatIsNotADevice) {
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  int error = 0;
  EXPECT_FALSE(OpenDeviceLink(file.fileName(), error));
  EXPECT_EQ(error, ENODEV);
  EXPECT_FALSE(OpenDeviceLink(QStringLiteral("/nonexistent/lp0"), error));
  EXPECT_EQ(error, ENOENT);
}

TEST(StreamLinkTest, TcpConnectOutcomes) {
  LinkStatus status = LinkStatus::Ok;
  int error = 0;
  RefusingPort refusing;
  EXPECT_FALSE(ConnectTcpLink(0x7F000001, refusing.port(), QDeadlineTimer(1000), status, error));
  EXPECT_EQ(status, LinkStatus::Failed);
  EXPECT_EQ(error, ECONNREFUSED);

  UnansweringPort unanswering;
  QElapsedTimer elapsed;
  elapsed.start();
  EXPECT_FALSE(ConnectTcpLink(0x7F000001, unanswering.port(), QDeadlineTimer(300), status, error));
  EXPECT_EQ(status, LinkStatus::TimedOut);
  EXPECT_LT(elapsed.elapsed(), 2000);
}

} // namespace
} // namespace pellicar::test
