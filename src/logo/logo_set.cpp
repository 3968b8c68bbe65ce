#include "logo/logo_set.h"

#include "logo/logo_picture.h"
#include "logo/logo_raster.h"

#include <QFileInfo>

namespace pellicar {

namespace {

LogoFailure Failure(const char *text, const char *caption, qsizetype entry,
                    const QString &reason = {}) {
  return {QString::fromLatin1(text), QString::fromLatin1(caption), entry, reason};
}

} // namespace

std::optional<LogoFailure> BuildLogoData(const QStringList &files, QByteArray &logoData,
                                         LogoRecordCache *cache) {
  logoData.resize(kLogoCommandBytes, '\0');
  for (qsizetype i = 0; i < files.size(); ++i) {
    const qint64 room = kLogoCapacity - logoData.size();
    const LogoPicture picture = LogoPicture::Load(files[i], room, cache);
    switch (picture.fault) {
    case LogoPicture::Fault::None:
      break;
    case LogoPicture::Fault::Missing:
      return Failure("Error!", "Error", i, picture.reason);
    case LogoPicture::Fault::TooLarge:
      return Failure("Error!", "Error", i,
                     QStringLiteral("the logos would take %1 bytes, more than the printer's %2 "
                                    "bytes of logo memory")
                         .arg(logoData.size() + picture.recordBytes)
                         .arg(kLogoCapacity));
    case LogoPicture::Fault::Invalid:
      return Failure("Picture invalid", "Error", i, picture.reason);
    }
    logoData.append(picture.record);
  }
  if (cache != nullptr)
    cache->EndRebuild();
  return std::nullopt;
}

QString LogoSpaceLabel(qint64 used) {
  const qint64 free = kLogoCapacity - used;
  return QStringLiteral("Space: %1,%2 Used, %3,%4 Free")
      .arg(used / 1000)
      .arg(used % 1000, 3, 10, QLatin1Char('0'))
      .arg(free / 1000)
      .arg(free % 1000, 3, 10, QLatin1Char('0'));
}

QString LogoSet::DisplayName(const QString &path) { return QFileInfo(path).fileName(); }

std::optional<LogoFailure> LogoSet::CheckAdd() const {
  if (files_.size() >= kMaxLogos)
    return Failure("No more than 255 logos can be stored", "Error", -1);
  return std::nullopt;
}

LogoSet::Change LogoSet::Add(const QString &path) {
  Change change;
  if (auto refusal = CheckAdd()) {
    change.refusals.append({*refusal, {}});
    return change;
  }
  change.changed = true;
  files_.append(path);
  RebuildTakingOut(change, files_.size() - 1);
  return change;
}

LogoSet::Change LogoSet::Delete(qsizetype selected) {
  Change change;
  if (files_.isEmpty())
    return change;
  if (selected < 0 || selected >= files_.size())
    selected = files_.size() - 1;
  change.changed = true;
  change.removed = selected;
  files_.removeAt(selected);
  RebuildTakingOut(change, -1);
  return change;
}

void LogoSet::RebuildTakingOut(Change &change, qsizetype extra) {
  while (std::optional<LogoFailure> failure = BuildLogoData(files_, data_, &cache_)) {
    Refusal refusal{*failure, {}};
    // The higher index first, so that the lower one still names its entry.
    if (extra >= 0 && extra != failure->entry)
      refusal.takeOut.append(extra);
    refusal.takeOut.append(failure->entry);
    for (qsizetype index : refusal.takeOut)
      files_.removeAt(index);
    change.refusals.append(refusal);
    extra = -1;
  }
}

std::optional<LogoFailure> LogoSet::CheckDownload() const {
  if (files_.isEmpty())
    return Failure("Select A File", "Error!", -1);
  return std::nullopt;
}

QByteArray LogoSet::DownloadStream() {
  if (files_.isEmpty() || data_.size() < kLogoCommandBytes)
    return {};
  data_[0] = char(0x1C);
  data_[1] = char(0x71);
  data_[2] = char(files_.size() & 0xFF);
  return QByteArray(data_.constData(), data_.size());
}

} // namespace pellicar
