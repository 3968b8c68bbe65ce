#include "profile/profile_sections.h"

#include "commands/blackmark_commands.h"

namespace pellicar {

QStringList ProfileSectionNames() {
  return {QStringLiteral("base"),  QStringLiteral("blackMark"), QStringLiteral("wifi"),
          QStringLiteral("logos"), QStringLiteral("speed"),     QStringLiteral("mac"),
          QStringLiteral("ip")};
}

QStringList ReadSectionList(const QString &list, const QString &option) {
  const QStringList names = ProfileSectionNames();
  QStringList chosen;
  for (const QString &word : list.split(QLatin1Char(','))) {
    const QString name = word.trimmed();
    QStringList matches;
    if (name.compare(QLatin1String("ethernet"), Qt::CaseInsensitive) == 0)
      matches = {QStringLiteral("speed"), QStringLiteral("mac"), QStringLiteral("ip")};
    for (const QString &known : names)
      if (known.compare(name, Qt::CaseInsensitive) == 0)
        matches << known;
    if (matches.isEmpty())
      throw EProfileError(option, QStringLiteral("'%1' is not a section; the sections are %2, "
                                                 "and ethernet for speed, mac and ip")
                                      .arg(name, names.join(QStringLiteral(", "))));
    for (const QString &match : matches)
      if (!chosen.contains(match))
        chosen << match;
  }
  return chosen;
}

std::vector<ProfileSection> BuildProfileSections(const Profile &profile, const QStringList &only) {
  std::vector<ProfileSection> all;
  if (profile.base)
    all.push_back({QStringLiteral("base"), BuildBaseSettings(*profile.base)});
  if (profile.blackMark) {
    const ProfileBlackMark &mark = *profile.blackMark;
    ProfileSection section{QStringLiteral("blackMark"), {}};
    if (mark.enabled)
      section.sequences.push_back(*mark.enabled ? BuildEnableBlackMark() : BuildDisableBlackMark());
    const std::pair<const std::optional<int> &, BlackMarkDistance> distances[] = {
        {mark.pitchMm, BlackMarkDistance::Pitch},
        {mark.widthMm, BlackMarkDistance::Width},
        {mark.printOffsetMm, BlackMarkDistance::PrintAfter},
        {mark.cutOffsetMm, BlackMarkDistance::CutAfter}};
    for (const auto &[millimetres, field] : distances)
      if (millimetres)
        section.sequences.push_back(BuildBlackMarkDistance(field, QString::number(*millimetres)));
    all.push_back(section);
  }
  if (profile.wifi)
    all.push_back({QStringLiteral("wifi"), {BuildSetWifi(profile.wifi->settings)}});
  if (profile.logos && !profile.logos->isEmpty())
    all.push_back({QStringLiteral("logos"),
                   {CommandSequence{QStringLiteral("LOGO TO NVRAM"), profile.logoData}}});
  if (profile.speedIndex)
    all.push_back({QStringLiteral("speed"), {BuildSetSpeed(*profile.speedIndex)}});
  if (profile.mac)
    all.push_back({QStringLiteral("mac"), {BuildSetMac(*profile.mac)}});
  if (profile.ip)
    all.push_back({QStringLiteral("ip"), {BuildSetIp(*profile.ip)}});

  std::vector<ProfileSection> sections;
  for (ProfileSection &section : all)
    if (!section.sequences.empty() && (only.isEmpty() || only.contains(section.name)))
      sections.push_back(std::move(section));
  return sections;
}

} // namespace pellicar
