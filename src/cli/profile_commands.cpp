#include "cli/profile_commands.h"

#include "cli/cli_errors.h"
#include "profile/profile_sections.h"

namespace pellicar {

namespace {

Profile ReadChecked(const QString &path) {
  try {
    return ReadProfileFile(path);
  } catch (const EProfileError &e) {
    // A file that cannot be read names itself already.
    if (e.path().isEmpty() && e.message().startsWith(path))
      throw EBadInput(e.message());
    throw EBadInput(QStringLiteral("%1: %2").arg(path, e.message()));
  }
}

} // namespace

CliJob ParseApply(TArgumentReader &args) {
  const QString context = QStringLiteral("apply");
  QString path;
  QStringList only;
  while (!args.AtEnd()) {
    const QString word = args.Next();
    if (word == QLatin1String("--only")) {
      try {
        only = ReadSectionList(args.ValueOf(word, context), word);
      } catch (const EProfileError &e) {
        throw EUsageError(e.message(), context);
      }
    } else if (path.isEmpty() && !word.startsWith(QLatin1String("--"))) {
      path = word;
    } else {
      throw EUsageError(QStringLiteral("apply: unexpected argument '%1'").arg(word), context);
    }
  }
  if (path.isEmpty())
    throw EUsageError(QStringLiteral("apply needs a profile file"), context);
  const Profile profile = ReadChecked(path);
  CliJob job;
  job.kind = CliJob::Kind::Commands;
  job.command = context;
  for (ProfileSection &section : BuildProfileSections(profile, only)) {
    job.sections.push_back({section.name, int(section.sequences.size())});
    for (CommandSequence &sequence : section.sequences)
      job.sequences.push_back(std::move(sequence));
  }
  if (job.sections.empty())
    throw EBadInput(only.isEmpty()
                        ? QStringLiteral("%1: the profile sets nothing to send").arg(path)
                        : QStringLiteral("%1: the profile sets none of %2")
                              .arg(path, only.join(QStringLiteral(", "))));
  return job;
}

CliJob ParseProfileCommand(TArgumentReader &args) {
  const QString context = QStringLiteral("profile");
  if (args.AtEnd())
    throw EUsageError(QStringLiteral("profile needs an action: check"), context);
  const QString action = args.Next();
  if (action != QLatin1String("check"))
    throw EUsageError(QStringLiteral("profile: unknown action '%1'").arg(action), context);
  const QString path = args.Sole(QStringLiteral("a profile file"), context);
  const Profile profile = ReadChecked(path);
  QStringList names;
  for (const ProfileSection &section : BuildProfileSections(profile))
    names << section.name;
  CliJob job;
  job.command = context;
  job.report = names.isEmpty()
                   ? QStringLiteral("%1: a valid profile that sends nothing\n").arg(path)
                   : QStringLiteral("%1: a valid profile; it sends %2\n")
                         .arg(path, names.join(QStringLiteral(", ")));
  return job;
}

QString SectionOutcomes(const CliJob &job, bool failed, int confirmed) {
  QString text;
  int first = 0;
  bool failureNamed = false;
  for (const CliJob::Section &section : job.sections) {
    const int end = first + section.count;
    QString outcome;
    if (!failed || (confirmed >= 0 && confirmed >= end))
      outcome = QStringLiteral("sent");
    else if (confirmed < 0)
      outcome = QStringLiteral("not confirmed");
    else if (!failureNamed) {
      // The first sequence the channel did not confirm lies in this
      // section.
      outcome = confirmed > first ? QStringLiteral("failed after %1 of %2 commands")
                                        .arg(confirmed - first)
                                        .arg(section.count)
                                  : QStringLiteral("failed");
      failureNamed = true;
    } else
      // Bytes written after the failing sequence may still have reached
      // the printer; none of them was confirmed.
      outcome = QStringLiteral("not confirmed");
    text += QStringLiteral("%1: %2\n").arg(section.name, outcome);
    first = end;
  }
  return text;
}

} // namespace pellicar
