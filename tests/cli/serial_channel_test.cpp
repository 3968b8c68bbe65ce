// --serial: the window's serial component on the slave side of a pseudo
// terminal; the test holds the master side, the printer's end of the line.

#include "cli/cli_process.h"
#include "support/bmp_writer.h"
#include "support/pty.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellicar::test {
namespace {

class CliSerialTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(line_.Ok()); }

  CliResult Run(const QStringList &lineOptions, const QStringList &command) {
    return RunCliProcess(QStringList{QStringLiteral("--serial"), line_.SlavePath()} + lineOptions +
                         command);
  }

  TPseudoTerminal line_;
};

TEST_F(CliSerialTest, EachCommandSendsItsDryRunBytes) {
  const std::vector<QStringList> commands = {
      Words({"base", "--cutter", "off", "--reprint", "on"}),
      Words({"selftest"}),
      Words({"wifi", "--ssid", "SSID", "--wep-share", "abcde"}),
      Words({"blackmark", "print-offset", "5"}),
      Words({"speed", "auto"}),
  };
  for (const QStringList &command : commands) {
    SCOPED_TRACE(command.join(QLatin1Char(' ')).toStdString());
    const QByteArray expected = DryRunBytes(command);
    ASSERT_FALSE(expected.isEmpty());
    line_.ClearReceived();
    const CliResult result = Run({}, command);
    EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    // The tool has closed the port by now; what it wrote is on the line.
    EXPECT_TRUE(line_.WaitForReceived(expected.size()));
    EXPECT_EQ(line_.Received().toHex(' ').toStdString(), expected.toHex(' ').toStdString());
  }
}

TEST_F(CliSerialTest, LineSettingsAreThoseGiven) {
  // The settings outlive the tool's close on the pseudo terminal: the test's
  // helper keeps the slave open.
  ASSERT_EQ(Run({}, Words({"selftest"})).exitCode, 0);
  TPseudoTerminal::LineSettings settings = line_.Settings();
  EXPECT_EQ(settings.speed, 19200u);
  EXPECT_FALSE(settings.oddParity);
  EXPECT_TRUE(settings.inputXonXoff) << "the computer sends XON/XOFF";
  EXPECT_FALSE(settings.outputXonXoff);
  EXPECT_FALSE(settings.ctsFlow);
  EXPECT_TRUE(settings.raw);

  ASSERT_EQ(Run(Words({"--baud", "9600", "--parity", "odd"}), Words({"selftest"})).exitCode, 0);
  settings = line_.Settings();
  EXPECT_EQ(settings.speed, 9600u);
  EXPECT_TRUE(settings.oddParity);

  ASSERT_EQ(Run(Words({"--parity", "EVEN", "--baud", "115200"}), Words({"selftest"})).exitCode, 0);
  settings = line_.Settings();
  EXPECT_EQ(settings.speed, 115200u);
  EXPECT_FALSE(settings.oddParity);
}

// A line that takes nothing (its output held off): the close throws the
// commands away once its bound has run out, which is a failure, and the
// tool says how many bytes were lost.
TEST_F(CliSerialTest, BytesThrownAwayAtCloseExitWithOneAndAreCounted) {
  const QByteArray expected = DryRunBytes(Words({"selftest"}));
  ASSERT_FALSE(expected.isEmpty());
  ASSERT_TRUE(line_.HoldOutput(true));
  const CliResult result = Run(Words({"--timeout", "0.5"}), Words({"selftest"}));
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(
      QStringLiteral("(%1 of %1 bytes were not written to the port)").arg(expected.size())))
      << result.err.toStdString();
  ASSERT_TRUE(line_.HoldOutput(false));
  EXPECT_FALSE(line_.WaitForReceived(1, 200)) << "what was reported lost went out after all";
}

// Serial port and device file share one send loop: a line that takes
// nothing is a stall on both, said with the bytes the printer has.
TEST_F(CliSerialTest, AHeldLineIsAStallOnEveryTwoWayChannel) {
  const QByteArray expected = DryRunBytes(Words({"selftest"}));
  ASSERT_TRUE(line_.HoldOutput(true));
  for (const char *channel : {"--serial", "--device"}) {
    const CliResult result =
        RunCliProcess({QString::fromLatin1(channel), line_.SlavePath(), QStringLiteral("--timeout"),
                       QStringLiteral("0.5"), QStringLiteral("selftest")});
    EXPECT_EQ(result.exitCode, 1) << channel << ::testing::PrintToString(result);
    EXPECT_TRUE(result.errText().contains(
        QStringLiteral("%1: the printer took no data for 0.5 s; it has 0 of %2 bytes")
            .arg(line_.SlavePath())
            .arg(expected.size())))
        << result.err.toStdString();
  }
  ASSERT_TRUE(line_.HoldOutput(false));
  EXPECT_FALSE(line_.WaitForReceived(1, 200)) << "what was reported lost went out after all";
}

TEST_F(CliSerialTest, PortThatCannotBeOpenedExitsWithOne) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString missing = folder.filePath(QStringLiteral("ttyUSB9"));
  CliResult result =
      RunCliProcess({QStringLiteral("--serial"), missing, QStringLiteral("selftest")});
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(missing + QStringLiteral(": Error opening serial port.")))
      << result.err.toStdString();

  // In use by another program.
  const int holder = ::open(line_.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  result = Run({}, Words({"selftest"}));
  ::close(holder);
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(QStringLiteral("Error opening serial port.")))
      << result.err.toStdString();
  EXPECT_TRUE(line_.Received().isEmpty());
}

// A path of the wrong kind is bad input (exit 2), said with what it is,
// before anything is opened or sent.
TEST_F(CliSerialTest, PathOfTheWrongKindIsBadInput) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString fifo = folder.filePath(QStringLiteral("fifo"));
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  const QString file = SaveFile(folder.path(), QStringLiteral("file"), "x");
  const struct {
    const char *option;
    QString path;
    QString said;
  } rows[] = {
      {"--serial", QStringLiteral("/dev/null"),
       QStringLiteral("/dev/null is a character device of the class \"mem\", not a serial port.")},
      {"--serial", fifo, fifo + QStringLiteral(" is a FIFO (named pipe), not a serial port.")},
      {"--serial", file, file + QStringLiteral(" is a regular file, not a serial port.")},
      {"--serial", folder.path(),
       folder.path() + QStringLiteral(" is a folder, not a serial port.")},
      {"--device", file, file + QStringLiteral(" is a regular file, not a device (--device takes")},
      {"--device", fifo, fifo + QStringLiteral(" is a FIFO (named pipe), not a device")},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.path.toStdString());
    const CliResult result =
        RunCliProcess({QString::fromLatin1(row.option), row.path, QStringLiteral("selftest")});
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.errText().contains(row.said)) << result.err.toStdString();
  }
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), "x");
}

TEST_F(CliSerialTest, StreamsAreRefusedAsInTheWindow) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  QImage picture(8, 8, QImage::Format_RGB32);
  picture.fill(Qt::black);
  const QString logo = SaveFile(folder.path(), QStringLiteral("logo.bmp"), WriteBmp(picture, {}));
  const CliResult result = Run({}, {QStringLiteral("logo"), logo});
  EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(QStringLiteral("Can not Use COM Port !")))
      << result.err.toStdString();
  EXPECT_TRUE(line_.Received().isEmpty());
}

} // namespace
} // namespace pellicar::test
