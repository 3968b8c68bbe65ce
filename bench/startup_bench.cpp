// How long pellicar-cli takes as a whole process, beside the system's `lp`
// doing the same kind of work:
//   1. a dry run of `selftest` (start, build 2 bytes, print them, exit)
//      against `lp --help`;
//   2. the self-test as a raw job on a private print server against
//      `lp -o raw` sending the same bytes to the same queue.
// Each pair runs alternately (the order swapped every round) so that the
// machine's drift hits both alike. Prints min, median and max of the wall
// time from spawn to reaped exit, the median peak memory and the ratio of
// the medians. The machine is shared: the spread (min to max) says how far
// to trust a median; the median CPU time of the process itself (user +
// system) depends less on what else runs.
//
//   startup_bench [--runs N] [--cli PATH] [--lp PATH]

#include "support/private_cups.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

struct Sample {
  double ms = 0;
  double cpuMs = 0; // user + system time of the process itself
  double peakMiB = 0;
  int status = -1;
};

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Runs `argv` with its output going nowhere; the time from spawn to the
// reaped exit and the child's peak resident memory.
Sample Run(const std::vector<std::string> &argv) {
  std::vector<char *> args;
  for (const std::string &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Sample s;
  const double start = Now();
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return s;
  }
  rusage usage{};
  int status = 0;
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  s.ms = Now() - start;
  s.peakMiB = double(usage.ru_maxrss) / 1024.0;
  const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
  s.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  s.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  posix_spawn_file_actions_destroy(&actions);
  return s;
}

struct Summary {
  double min, median, max, cpuMs, peakMiB;
  int failures;
};

// `expected`: the exit status of a run that did its work (lp exits with 1
// after printing its usage).
Summary Summarise(std::vector<Sample> samples, int expected) {
  Summary r{};
  for (const Sample &s : samples)
    r.failures += s.status != expected;
  std::sort(samples.begin(), samples.end(),
            [](const Sample &a, const Sample &b) { return a.peakMiB < b.peakMiB; });
  r.peakMiB = samples[samples.size() / 2].peakMiB;
  std::sort(samples.begin(), samples.end(),
            [](const Sample &a, const Sample &b) { return a.cpuMs < b.cpuMs; });
  r.cpuMs = samples[samples.size() / 2].cpuMs;
  std::sort(samples.begin(), samples.end(),
            [](const Sample &a, const Sample &b) { return a.ms < b.ms; });
  const std::size_t n = samples.size();
  r.min = samples.front().ms;
  r.max = samples.back().ms;
  r.median = n % 2 ? samples[n / 2].ms : (samples[n / 2 - 1].ms + samples[n / 2].ms) / 2;
  return r;
}

// Runs both commands `runs` times, alternately, after one unmeasured run
// each (it fills the page cache); prints a table row for each and the
// ratio of the medians.
void Compare(const char *title, const std::vector<std::string> &ours,
             const std::vector<std::string> &yardstick, int yardstickExit, int runs) {
  Run(ours);
  Run(yardstick);
  std::vector<Sample> a, b;
  for (int i = 0; i < runs; ++i) {
    if (i % 2) {
      b.push_back(Run(yardstick));
      a.push_back(Run(ours));
    } else {
      a.push_back(Run(ours));
      b.push_back(Run(yardstick));
    }
  }
  const Summary sa = Summarise(a, 0), sb = Summarise(b, yardstickExit);
  std::printf("%s (%d alternating runs each)\n", title, runs);
  const auto row = [](const char *name, const Summary &s) {
    std::printf("  %-14s median %6.1f ms  min %6.1f  max %6.1f  cpu %5.1f ms  peak %5.1f MiB%s\n",
                name, s.median, s.min, s.max, s.cpuMs, s.peakMiB,
                s.failures ? "  (FAILED RUNS)" : "");
  };
  row(ours[0].substr(ours[0].rfind('/') + 1).c_str(), sa);
  row(yardstick[0].substr(yardstick[0].rfind('/') + 1).c_str(), sb);
  if (sa.failures || sb.failures)
    std::printf("  %d and %d runs failed: the figures are not comparable\n", sa.failures,
                sb.failures);
  std::printf("  ratio of the medians: %.2fx (CPU time: %.2fx)\n\n", sa.median / sb.median,
              sa.cpuMs / sb.cpuMs);
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  int runs = 10;
  std::string cli = PELLICAR_CLI_PATH;
  std::string lp = "/usr/bin/lp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::max(1, std::atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--cli") == 0)
      cli = argv[i + 1];
    else if (std::strcmp(argv[i], "--lp") == 0)
      lp = argv[i + 1];
  }
  if (access(cli.c_str(), X_OK) != 0 || access(lp.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "%s or %s is not an executable file\n", cli.c_str(), lp.c_str());
    return 1;
  }

  Compare("1. selftest dry run against lp --help", {cli, "selftest"}, {lp, "--help"}, 1, runs);

  pellicar::test::PrivateCups cups;
  if (cups.Start() != pellicar::test::PrivateCups::Status::Running) {
    std::printf("2. raw job: no private print server here: %s\n", qPrintable(cups.Message()));
    return 0;
  }
  const QString queue = QStringLiteral("bench");
  QString error;
  if (!cups.AddRawQueue(queue, 0, &error)) {
    std::fprintf(stderr, "cannot add the queue: %s\n", qPrintable(error));
    return 1;
  }
  // The self-test's bytes, from the dry run ("SelfTest\t12 54"), as the
  // file lp sends: the same job.
  QProcess dryRun;
  dryRun.start(QString::fromStdString(cli), {QStringLiteral("selftest")});
  dryRun.waitForFinished(10000);
  const QByteArray selfTest =
      QByteArray::fromHex(dryRun.readAllStandardOutput().split('\t').value(1).trimmed());
  QTemporaryDir dir;
  const QString jobFile = dir.filePath(QStringLiteral("selftest.bin"));
  QFile file(jobFile);
  if (selfTest.isEmpty() || !dir.isValid() || !file.open(QIODevice::WriteOnly) ||
      file.write(selfTest) != selfTest.size()) {
    std::fprintf(stderr, "cannot write the job file\n");
    return 1;
  }
  file.close();
  Compare("2. selftest as a raw job on a private print server against lp -o raw",
          {cli, "--queue", queue.toStdString(), "selftest"},
          {lp, "-d", queue.toStdString(), "-o", "raw", jobFile.toStdString()}, 0, runs);
  const int jobs = 2 * (runs + 1);
  const bool all = cups.Sink().WaitForReceived(jobs, 10000);
  int intact = 0;
  for (const QByteArray &received : cups.Sink().Received())
    intact += received == selfTest;
  std::printf("jobs that reached the printer intact: %d of %d%s\n", intact, jobs,
              all ? "" : " (the rest did not arrive within 10 s)");
  return intact == jobs ? 0 : 1;
}
