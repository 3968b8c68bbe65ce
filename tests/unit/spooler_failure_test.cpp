// The spooler channel's calls and results when a step of the job fails,
// through a spooler that records every call and fails where it is told.

#include "channels/spooler_channel.h"

#include <QBuffer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace pellicar {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

struct Script {
  bool open = true;
  bool startDoc = true;
  bool startPage = true;
  bool endDoc = true; // the server confirmed the job
  // Write number `shortWrite` (counted from 0) accepts only `accepted`
  // bytes.
  std::optional<int> shortWrite;
  qint32 accepted = 0;
};

Script OpenFails() {
  Script script;
  script.open = false;
  return script;
}

Script StartDocFails() {
  Script script;
  script.startDoc = false;
  return script;
}

Script StartPageFails() {
  Script script;
  script.startPage = false;
  return script;
}

Script EndDocUnconfirmed() {
  Script script;
  script.endDoc = false;
  return script;
}

Script ShortWrite(int write, qint32 accepted) {
  Script script;
  script.shortWrite = write;
  script.accepted = accepted;
  return script;
}

class RecordingSpooler : public Spooler {
public:
  explicit RecordingSpooler(Script script = {}) : script_(script) {}

  bool OpenPrinter(const QString &printer) override {
    calls.push_back("OpenPrinter " + printer.toStdString());
    return script_.open;
  }
  bool StartDoc(const JobDescription &job) override {
    calls.push_back("StartDoc " + job.documentName.toStdString() + "|" +
                    job.outputFile.toStdString() + "|" + job.datatype.toStdString());
    return script_.startDoc;
  }
  bool StartPage() override {
    calls.push_back("StartPage");
    return script_.startPage;
  }
  qint32 Write(const char *data, qint32 count) override {
    calls.push_back("Write " + std::to_string(count));
    const bool isShort = script_.shortWrite == writes_++;
    const qint32 taken = isShort ? script_.accepted : count;
    written.append(data, taken);
    return taken;
  }
  bool EndPage() override {
    calls.push_back("EndPage");
    return true;
  }
  bool EndDoc() override {
    calls.push_back("EndDoc");
    return script_.endDoc;
  }
  void ClosePrinter() override { calls.push_back("ClosePrinter"); }

  std::vector<std::string> calls;
  QByteArray written;

private:
  Script script_;
  int writes_ = 0;
};

// Bytes 0, 1, 2... as a test payload whose every byte is told apart by its
// place.
QByteArray Pattern(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i)
    bytes[i] = char(i * 7 + i / 256);
  return bytes;
}

const std::vector<std::string> kWholeJob = {"OpenPrinter receipt",
                                            "StartDoc Base Parameter||RAW",
                                            "StartPage",
                                            "Write 11",
                                            "EndPage",
                                            "EndDoc",
                                            "ClosePrinter"};

struct BufferCase {
  const char *name;
  QString printer;
  Script script;
  std::vector<std::string> calls;
  qint32 result;
};

TEST(SpoolerFailureTest, BufferSendMakesExactlyTheCallsOfItsOutcome) {
  const std::vector<BufferCase> cases = {
      {"sent whole", "receipt", {}, kWholeJob, 11},
      {"no printer selected", "", {}, {}, 0},
      {"printer cannot be opened", "receipt", OpenFails(), {"OpenPrinter receipt"}, 0},
      {"job cannot be started",
       "receipt",
       StartDocFails(),
       {"OpenPrinter receipt", "StartDoc Base Parameter||RAW", "ClosePrinter"},
       0},
      {"page cannot be started",
       "receipt",
       StartPageFails(),
       {"OpenPrinter receipt", "StartDoc Base Parameter||RAW", "StartPage", "EndDoc",
        "ClosePrinter"},
       0},
      {"write falls short", "receipt", ShortWrite(0, 4), kWholeJob, 4},
      {"write fails", "receipt", ShortWrite(0, 0), kWholeJob, 0},
      {"written whole, end not confirmed", "receipt", EndDocUnconfirmed(), kWholeJob, 0},
  };
  const QByteArray data = Pattern(11);
  for (const BufferCase &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSpooler spooler(c.script);
    EXPECT_EQ(SendRawBuffer(spooler, c.printer, QStringLiteral("Base Parameter"), data), c.result);
    EXPECT_THAT(spooler.calls, ElementsAreArray(c.calls));
  }
}

TEST(SpoolerFailureTest, BufferIsHandedOverInOneWriteUnchanged) {
  RecordingSpooler spooler;
  const QByteArray data = Pattern(300);
  EXPECT_EQ(SendRawBuffer(spooler, QStringLiteral("receipt"), QStringLiteral("Set WIFI"), data),
            300);
  EXPECT_EQ(spooler.written, data);
  EXPECT_EQ(std::count(spooler.calls.begin(), spooler.calls.end(), "Write 300"), 1);
}

struct StreamCase {
  const char *name;
  QString printer;
  Script script;
  int size;
  std::vector<std::string> calls;
  bool result;
  qint64 positionAfter; // where reading stopped
};

TEST(SpoolerFailureTest, StreamSendMakesExactlyTheCallsOfItsOutcome) {
  const std::string open = "OpenPrinter receipt";
  const std::string doc = "StartDoc LOGO TO NVRAM||RAW";
  const std::vector<StreamCase> cases = {
      {"two full pieces",
       "receipt",
       {},
       2048,
       {open, doc, "StartPage", "Write 1024", "Write 1024", "EndPage", "EndDoc", "ClosePrinter"},
       true,
       2048},
      {"a full piece and one byte",
       "receipt",
       {},
       1025,
       {open, doc, "StartPage", "Write 1024", "Write 1", "EndPage", "EndDoc", "ClosePrinter"},
       true,
       1025},
      {"empty stream: a job without data",
       "receipt",
       {},
       0,
       {open, doc, "StartPage", "EndPage", "EndDoc", "ClosePrinter"},
       true,
       0},
      {"empty stream whose empty job the server refuses",
       "receipt",
       EndDocUnconfirmed(),
       0,
       {open, doc, "StartPage", "EndPage", "EndDoc", "ClosePrinter"},
       true,
       0},
      {"written whole, end not confirmed",
       "receipt",
       EndDocUnconfirmed(),
       1025,
       {open, doc, "StartPage", "Write 1024", "Write 1", "EndPage", "EndDoc", "ClosePrinter"},
       false,
       1025},
      {"no printer selected", "", {}, 100, {}, false, 0},
      {"printer cannot be opened", "receipt", OpenFails(), 100, {open}, false, 0},
      {"job cannot be started",
       "receipt",
       StartDocFails(),
       100,
       {open, doc, "ClosePrinter"},
       false,
       0},
      {"page cannot be started",
       "receipt",
       StartPageFails(),
       100,
       {open, doc, "StartPage", "EndDoc", "ClosePrinter"},
       false,
       0},
      {"second write falls short: the rest is not sent",
       "receipt",
       ShortWrite(1, 1000),
       3000,
       {open, doc, "StartPage", "Write 1024", "Write 1024", "EndPage", "EndDoc", "ClosePrinter"},
       false,
       2048},
      {"last write refused",
       "receipt",
       ShortWrite(1, 0),
       1025,
       {open, doc, "StartPage", "Write 1024", "Write 1", "EndPage", "EndDoc", "ClosePrinter"},
       false,
       1025},
  };
  for (const StreamCase &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSpooler spooler(c.script);
    QByteArray data = Pattern(c.size);
    QBuffer stream(&data);
    ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
    EXPECT_EQ(SendRawStream(spooler, c.printer, QStringLiteral("LOGO TO NVRAM"), stream), c.result);
    EXPECT_THAT(spooler.calls, ElementsAreArray(c.calls));
    EXPECT_EQ(stream.pos(), c.positionAfter);
    EXPECT_TRUE(stream.isOpen()) << "the stream stays the caller's";
  }
}

TEST(SpoolerFailureTest, StreamIsSentFromItsPositionUnchanged) {
  RecordingSpooler spooler;
  QByteArray data = Pattern(3000);
  QBuffer stream(&data);
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  ASSERT_TRUE(stream.seek(1000));
  EXPECT_TRUE(SendRawStream(spooler, QStringLiteral("receipt"), QStringLiteral("update"), stream));
  EXPECT_EQ(spooler.written, data.mid(1000));
}

TEST(SpoolerFailureTest, StreamNotOpenForReadingOpensNothing) {
  RecordingSpooler spooler;
  QByteArray data = Pattern(100);
  QBuffer closed(&data);
  EXPECT_FALSE(SendRawStream(spooler, QStringLiteral("receipt"), QStringLiteral("update"), closed));
  QBuffer writeOnly(&data);
  ASSERT_TRUE(writeOnly.open(QIODevice::WriteOnly));
  EXPECT_FALSE(
      SendRawStream(spooler, QStringLiteral("receipt"), QStringLiteral("update"), writeOnly));
  EXPECT_THAT(spooler.calls, IsEmpty());
}

// A device whose reads fail after a number of good bytes: a disk error no
// real file here would produce on demand.
class FailingDevice : public QIODevice {
public:
  explicit FailingDevice(qint64 good) : good_(good) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return true; }

protected:
  qint64 readData(char *data, qint64 maxSize) override {
    if (good_ == 0)
      return -1;
    const qint64 count = std::min(maxSize, good_);
    std::fill(data, data + count, 'x');
    good_ -= count;
    return count;
  }
  qint64 writeData(const char *, qint64) override { return -1; }

private:
  qint64 good_;
};

TEST(SpoolerFailureTest, StreamReadErrorCancelsTheJobInsteadOfPrintingItTruncated) {
  RecordingSpooler spooler;
  FailingDevice stream(1024);
  EXPECT_FALSE(SendRawStream(spooler, QStringLiteral("receipt"), QStringLiteral("update"), stream));
  // Closing without EndDoc is how the spooler is told to drop the job.
  EXPECT_THAT(spooler.calls, ElementsAre("OpenPrinter receipt", "StartDoc update||RAW", "StartPage",
                                         "Write 1024", "EndPage", "ClosePrinter"));
}

} // namespace
} // namespace pellicar
