#include "cli/fleet_command.h"

#include "channels/status_query.h"
#include "cli/cli_errors.h"
#include "cli/cli_runner.h"
#include "cli/fleet_plan.h"
#include "cli/fleet_report.h"
#include "cli/fleet_targets.h"
#include "cli/interrupt.h"
#include "cli/profile_commands.h"
#include "cli/read_back_commands.h"
#include "cli/read_back_runner.h"
#include "cli/terminal.h"
#include "profile/profile_sections.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <map>
#include <optional>

namespace pellicar {

namespace {

// Between two questions at a printer's new address: a restart takes
// seconds; twice a second finds it promptly without flooding it.
constexpr int kAskAgainMs = 500;
// The work a worker reads: a profile path, a few overrides.
constexpr qint64 kMaxWorkBytes = 1024 * 1024;

QList<ProfileOverride> Overrides(const std::vector<std::pair<QString, QString>> &cells) {
  QList<ProfileOverride> overrides;
  for (const auto &[path, value] : cells)
    overrides.append({path, value});
  return overrides;
}

// The profile's error with the place it comes from.
[[noreturn]] void RefuseProfile(const QString &where, const EProfileError &e) {
  throw EBadInput(QStringLiteral("%1: %2").arg(where, e.message()));
}

QString IpText(const IpAddressFields &ip) {
  QStringList parts;
  for (const QString &text : ip.texts)
    parts << QString::number(text.toInt());
  return parts.join(QLatin1Char('.'));
}

QString MacText(const MacAddressFields &mac) {
  QStringList parts{QStringLiteral("00")};
  for (const QString &text : mac.texts)
    parts << QStringLiteral("%1").arg(text.toInt(), 2, 16, QLatin1Char('0'));
  return parts.join(QLatin1Char(':'));
}

bool Sends(const std::vector<ProfileSection> &sections, const char *name) {
  return std::any_of(sections.begin(), sections.end(),
                     [&](const ProfileSection &s) { return s.name == QLatin1String(name); });
}

// Whether `path` is a key the profile takes on its own: the reader names
// the path itself when it is not.
bool IsOverridePath(const QByteArray &profile, const QString &folder, const QString &path) {
  try {
    ParseProfile(profile, folder, {{path, QStringLiteral("0")}});
  } catch (const EProfileError &e) {
    return !(e.path() == path && e.reason().contains(QLatin1String("can be given on its own")));
  }
  return true;
}

// What --dry-run reports for a printer, in the shape of a run's result.
QJsonObject DryRunResult(const QString &target, const std::vector<ProfileSection> &sections) {
  QJsonArray entries;
  qint64 total = 0;
  for (const ProfileSection &section : sections) {
    qint64 bytes = 0;
    for (const CommandSequence &sequence : section.sequences)
      bytes += sequence.bytes.size();
    total += bytes;
    entries.append(QJsonObject{{QStringLiteral("section"), section.name},
                               {QStringLiteral("outcome"), QStringLiteral("dry run")},
                               {QStringLiteral("bytes"), bytes}});
  }
  return {{QStringLiteral("target"), target},
          {QStringLiteral("outcome"), QStringLiteral("dry run")},
          {QStringLiteral("message"), QString()},
          {QStringLiteral("sections"), entries},
          {QStringLiteral("sectionsSent"), 0},
          {QStringLiteral("bytes"), total},
          {QStringLiteral("seconds"), 0.0},
          {QStringLiteral("statusBefore"), QJsonValue()},
          {QStringLiteral("statusAfter"), QJsonValue()}};
}

// --- the worker ---------------------------------------------------------

// One status reading, as `status --json` gives it.
QJsonObject AskStatus(const ChannelChoice &target, int timeoutMs) {
  // One bound for the open and the whole exchange, as `status` has.
  const QDeadlineTimer deadline(timeoutMs);
  const std::unique_ptr<TPrinterLink> link = OpenPrinterLink(target, deadline);
  return StatusJson(QueryPrinterStatus(*link, deadline, timeoutMs).status);
}

void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// The outcome of each section from what the channel confirmed, in the
// words `apply` prints ("base: sent").
QJsonArray SectionResults(const CliJob &job, bool failed, int confirmed) {
  const QStringList lines =
      SectionOutcomes(job, failed, confirmed).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  QJsonArray sections;
  int first = 0;
  for (size_t i = 0; i < job.sections.size(); ++i) {
    const CliJob::Section &section = job.sections[i];
    qint64 bytes = 0;
    for (int s = first; s < first + section.count; ++s)
      bytes += job.sequences[size_t(s)].bytes.size();
    first += section.count;
    const QString outcome = lines.value(qsizetype(i)).section(QStringLiteral(": "), 1);
    QJsonObject entry;
    entry.insert(QStringLiteral("section"), section.name);
    entry.insert(QStringLiteral("outcome"), outcome);
    entry.insert(QStringLiteral("bytes"), outcome == QLatin1String("sent") ? bytes : 0);
    sections.append(entry);
  }
  return sections;
}

class TWorker {
public:
  explicit TWorker(const QJsonObject &work) : work_(work) { clock_.start(); }
  QJsonObject Run();

private:
  void sendSections(const ChannelChoice &channel, const CliJob &job);
  void statusAfter(const ChannelChoice &channel, const std::optional<QString> &newIp);
  void fail(const QString &message) {
    if (outcome_ == QLatin1String("ok"))
      outcome_ = QStringLiteral("failed"), message_ = message;
  }

  QJsonObject work_;
  QElapsedTimer clock_;
  int timeoutMs_ = 10000;
  QString outcome_ = QStringLiteral("ok");
  QString message_;
  QJsonObject result_;
};

QJsonObject TWorker::Run() {
  const QString target = work_.value(QStringLiteral("target")).toString();
  timeoutMs_ = std::max(1, work_.value(QStringLiteral("timeoutMs")).toInt());
  result_.insert(QStringLiteral("target"), target);
  result_.insert(QStringLiteral("statusBefore"), QJsonValue());
  result_.insert(QStringLiteral("statusAfter"), QJsonValue());
  result_.insert(QStringLiteral("sections"), QJsonArray());
  result_.insert(QStringLiteral("sectionsSent"), 0);
  result_.insert(QStringLiteral("bytes"), 0);
  try {
    const ChannelChoice channel = ParseFleetTarget(target);
    QList<ProfileOverride> overrides;
    for (const QJsonValue &o : work_.value(QStringLiteral("overrides")).toArray())
      overrides.append(
          {o[QStringLiteral("path")].toString(), o[QStringLiteral("value")].toString()});
    QStringList only;
    for (const QJsonValue &name : work_.value(QStringLiteral("only")).toArray())
      only << name.toString();
    const QString profilePath = work_.value(QStringLiteral("profile")).toString();
    Profile profile;
    try {
      profile = ReadProfileFile(profilePath, overrides);
    } catch (const EProfileError &e) {
      RefuseProfile(profilePath, e);
    }
    CliJob job;
    job.kind = CliJob::Kind::Commands;
    job.command = QStringLiteral("apply");
    const std::vector<ProfileSection> sections = BuildProfileSections(profile, only);
    for (const ProfileSection &section : sections) {
      job.sections.push_back({section.name, int(section.sequences.size())});
      job.sequences.insert(job.sequences.end(), section.sequences.begin(), section.sequences.end());
    }
    QJsonArray notSent;
    for (const ProfileSection &section : sections)
      notSent.append(QJsonObject{{QStringLiteral("section"), section.name},
                                 {QStringLiteral("outcome"), QStringLiteral("not sent")},
                                 {QStringLiteral("bytes"), 0}});
    result_.insert(QStringLiteral("sections"), notSent);
    std::optional<QString> newIp;
    if (Sends(sections, "ip") && channel.kind == ChannelChoice::Kind::Tcp && profile.ip &&
        IpText(*profile.ip) != channel.target)
      newIp = IpText(*profile.ip);

    // 1. Status before: a target that does not answer as a printer gets
    // nothing (a wrong address may be another device's port).
    if (channel.kind == ChannelChoice::Kind::Queue) {
      result_.insert(QStringLiteral("statusBeforeNote"),
                     QStringLiteral("a print queue carries no answers"));
    } else {
      try {
        result_.insert(QStringLiteral("statusBefore"), AskStatus(channel, timeoutMs_));
      } catch (const EPrinterLinkError &e) {
        fail(QStringLiteral("no status answer before sending, so nothing was sent: %1")
                 .arg(e.message()));
      }
    }
    if (outcome_ == QLatin1String("ok") && InterruptRequested()) {
      outcome_ = QStringLiteral("interrupted");
      message_ = QStringLiteral("interrupted before anything was sent");
    }
    if (outcome_ == QLatin1String("ok")) {
      // 2. The sections, 3. the status after.
      sendSections(channel, job);
      statusAfter(channel, newIp);
    }
  } catch (const Exception &e) {
    fail(e.message());
  }
  result_.insert(QStringLiteral("outcome"), outcome_);
  result_.insert(QStringLiteral("message"), message_);
  result_.insert(QStringLiteral("seconds"), double(clock_.elapsed()) / 1000.0);
  return result_;
}

void TWorker::sendSections(const ChannelChoice &channel, const CliJob &job) {
  CliRequest request;
  request.channel = channel;
  request.timeoutMs = timeoutMs_;
  request.job = job;
  bool failed = false;
  int confirmed = -1;
  try {
    DeliveryFor(request)->Deliver(job);
  } catch (const ESendFailed &e) {
    failed = true;
    confirmed = e.confirmedSequences();
    fail(e.message());
  }
  const QJsonArray sections = SectionResults(job, failed, confirmed);
  int sent = 0;
  qint64 bytes = 0;
  for (const QJsonValue &section : sections)
    if (section[QStringLiteral("outcome")].toString() == QLatin1String("sent")) {
      ++sent;
      bytes += section[QStringLiteral("bytes")].toInteger();
    }
  result_.insert(QStringLiteral("sections"), sections);
  result_.insert(QStringLiteral("sectionsSent"), sent);
  result_.insert(QStringLiteral("bytes"), bytes);
}

void TWorker::statusAfter(const ChannelChoice &channel, const std::optional<QString> &newIp) {
  const auto note = [this](const QString &text) {
    result_.insert(QStringLiteral("statusAfterNote"), text);
  };
  if (channel.kind == ChannelChoice::Kind::Queue) {
    note(QStringLiteral("no status through a print queue"));
    return;
  }
  const int verifyMs = work_.value(QStringLiteral("verifyMs")).toInt();
  if (!newIp) {
    try {
      result_.insert(QStringLiteral("statusAfter"), AskStatus(channel, timeoutMs_));
    } catch (const EPrinterLinkError &e) {
      note(QStringLiteral("no answer"));
      fail(QStringLiteral("no status answer after sending: %1").arg(e.message()));
    }
    return;
  }
  ChannelChoice moved = channel;
  moved.target = *newIp;
  if (verifyMs <= 0) {
    note(QStringLiteral("not asked: moves to %1").arg(moved.Where()));
    return;
  }
  if (outcome_ != QLatin1String("ok")) {
    note(QStringLiteral("not asked: the IP may not have been sent"));
    return;
  }
  // 4. The printer takes its new address when it restarts: ask there
  // until it answers or the bound runs out.
  const QDeadlineTimer within(verifyMs);
  QString last;
  for (;;) {
    const int boundMs = int(std::clamp<qint64>(within.remainingTime(), 1, timeoutMs_));
    try {
      result_.insert(QStringLiteral("statusAfter"), AskStatus(moved, boundMs));
      result_.insert(QStringLiteral("address"), moved.Where());
      return;
    } catch (const EPrinterLinkError &e) {
      last = e.message();
    }
    if (InterruptRequested()) {
      note(QStringLiteral("not verified"));
      outcome_ = QStringLiteral("interrupted");
      message_ = QStringLiteral("interrupted while waiting for %1").arg(moved.Where());
      return;
    }
    if (within.remainingTime() <= kAskAgainMs) {
      note(QStringLiteral("no answer at %1").arg(moved.Where()));
      fail(QStringLiteral("no answer at the new address %1 within %2 s; last: %3")
               .arg(moved.Where(), Seconds(verifyMs), last));
      return;
    }
    Pause(kAskAgainMs);
  }
}

} // namespace

CliJob ParseFleetApply(TArgumentReader &args, int timeoutMs) {
  const QString context = QStringLiteral("apply");
  auto plan = std::make_shared<FleetPlan>();
  plan->timeoutMs = timeoutMs;
  QStringList only;
  bool dryRun = false;
  while (!args.AtEnd()) {
    const QString word = args.Next();
    if (word == QLatin1String("--targets")) {
      plan->targetsPath = args.ValueOf(word, context);
    } else if (word == QLatin1String("--parallel")) {
      const QString value = args.ValueOf(word, context);
      bool ok = false;
      plan->parallel = value.toInt(&ok);
      if (!ok || plan->parallel < 1 || plan->parallel > kMaxFleetParallel)
        throw EUsageError(QStringLiteral("--parallel: '%1' is not a number from 1 to %2")
                              .arg(value)
                              .arg(kMaxFleetParallel),
                          context);
    } else if (word == QLatin1String("--verify-address")) {
      plan->verifyMs = kDefaultVerifyAddressMs;
      if (!args.AtEnd() && IsSeconds(args.Peek()))
        plan->verifyMs = std::min(SecondsValue(word, args.Next(), context), kMaxVerifyAddressMs);
    } else if (word == QLatin1String("--dry-run")) {
      dryRun = true;
    } else if (word == QLatin1String("--json")) {
      plan->json = true;
    } else if (word == QLatin1String("--only")) {
      try {
        only = ReadSectionList(args.ValueOf(word, context), word);
      } catch (const EProfileError &e) {
        throw EUsageError(e.message(), context);
      }
    } else if (plan->profilePath.isEmpty() && !word.startsWith(QLatin1String("--"))) {
      plan->profilePath = word;
    } else {
      throw EUsageError(QStringLiteral("apply: unexpected argument '%1'").arg(word), context);
    }
  }
  if (plan->profilePath.isEmpty())
    throw EUsageError(QStringLiteral("apply needs a profile file"), context);
  if (plan->targetsPath.isEmpty())
    throw EUsageError(QStringLiteral("apply --targets needs a file"), context);

  const QString profilePath = QFileInfo(plan->profilePath).absoluteFilePath();
  QFile file(profilePath);
  if (!file.open(QIODevice::ReadOnly))
    throw EBadInput(
        QStringLiteral("%1: cannot be read: %2").arg(plan->profilePath, file.errorString()));
  const QByteArray profileBytes = file.readAll();
  const QString folder = QFileInfo(profilePath).absolutePath();
  // A fault of the profile itself is the profile's, not a row's.
  try {
    ParseProfile(profileBytes, folder);
  } catch (const EProfileError &e) {
    RefuseProfile(plan->profilePath, e);
  }
  const FleetTargets targets = ReadFleetTargets(plan->targetsPath, [&](const QString &path) {
    return IsOverridePath(profileBytes, folder, path);
  });

  // Every printer's profile is read and checked now, before the first
  // byte goes out; so is the one thing no single profile can show: two
  // printers given one address.
  std::map<QString, int> ips;  // address -> line
  std::map<QString, int> macs; // address -> line
  QJsonArray onlyJson;
  for (const QString &name : only)
    onlyJson.append(name);
  std::vector<QJsonObject> dryRunResults;
  for (const FleetTarget &target : targets.targets) {
    const QString where = QStringLiteral("%1:%2").arg(plan->targetsPath).arg(target.line);
    Profile profile;
    std::vector<ProfileSection> sections;
    try {
      profile = ParseProfile(profileBytes, folder, Overrides(target.overrides));
      sections = BuildProfileSections(profile, only);
    } catch (const EProfileError &e) {
      RefuseProfile(where, e);
    }
    // The window refuses the serial port for the logo download.
    if (target.channel.kind == ChannelChoice::Kind::Serial && Sends(sections, "logos"))
      throw EBadInput(QStringLiteral("%1: Can not Use COM Port ! %2 cannot take the profile's "
                                     "logos; leave them out with --only")
                          .arg(where, target.text));
    if (sections.empty())
      throw EBadInput(
          QStringLiteral("%1: the profile sends nothing to %2").arg(where, target.text));
    const auto unique = [&](std::map<QString, int> &seen, const QString &key,
                            const QString &address) {
      if (const auto found = seen.find(address); found != seen.end())
        throw EBadInput(QStringLiteral("%1: %2 %3 is given to the printer on line %4 as well; give "
                                       "each printer its own in a '%2' column")
                            .arg(where, key, address)
                            .arg(found->second));
      seen[address] = target.line;
    };
    if (Sends(sections, "ip") && profile.ip)
      unique(ips, QStringLiteral("ethernet.ip"), IpText(*profile.ip));
    if (Sends(sections, "mac") && profile.mac)
      unique(macs, QStringLiteral("ethernet.mac"), MacText(*profile.mac));

    FleetPrinterJob job;
    job.target = target.text;
    job.line = target.line;
    QJsonArray overrides;
    for (const auto &[path, value] : target.overrides)
      overrides.append(
          QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("value"), value}});
    job.work = QJsonObject{
        {QStringLiteral("target"), target.text},  {QStringLiteral("profile"), profilePath},
        {QStringLiteral("overrides"), overrides}, {QStringLiteral("only"), onlyJson},
        {QStringLiteral("timeoutMs"), timeoutMs}, {QStringLiteral("verifyMs"), plan->verifyMs}};
    plan->printers.push_back(std::move(job));
    dryRunResults.push_back(DryRunResult(target.text, sections));
  }

  if (dryRun) {
    // Everything is checked; what each printer would get is reported and
    // nothing is sent (the status is not asked either).
    const FleetSummary summary{int(dryRunResults.size()), 0, 0, false};
    CliJob report;
    report.command = context;
    if (plan->json) {
      report.report = QString::fromUtf8(FleetJson(dryRunResults, summary));
    } else {
      for (const QJsonObject &result : dryRunResults) {
        QStringList names;
        for (const QJsonValue &section : result[QStringLiteral("sections")].toArray())
          names << section[QStringLiteral("section")].toString();
        report.report +=
            QStringLiteral("%1: would send %2 (%3 bytes)\n")
                .arg(result[QStringLiteral("target")].toString(), names.join(QStringLiteral(", ")))
                .arg(result[QStringLiteral("bytes")].toInteger());
      }
    }
    return report;
  }

  CliJob job;
  job.kind = CliJob::Kind::Fleet;
  job.command = context;
  job.fleet = std::move(plan);
  return job;
}

int RunFleetWorker() {
  CatchInterruptAsFlag();
  QFile input;
  if (!input.open(stdin, QIODevice::ReadOnly))
    return 1;
  // A pipe hands its bytes over in pieces; read up to its end.
  QByteArray bytes;
  while (bytes.size() <= kMaxWorkBytes) {
    const QByteArray piece = input.read(kMaxWorkBytes + 1 - bytes.size());
    if (piece.isEmpty())
      break;
    bytes += piece;
  }
  const QJsonObject work = QJsonDocument::fromJson(bytes).object();
  if (work.value(QStringLiteral("target")).toString().isEmpty()) {
    WriteStandard(StandardStream::Error,
                  "pellicar-cli fleet-worker: no work on standard input; this command is "
                  "started by 'apply --targets'\n");
    return 1;
  }
  TWorker worker(work);
  const QJsonObject result = worker.Run();
  return WriteStandard(StandardStream::Output,
                       QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n')
             ? 0
             : 1;
}

} // namespace pellicar
