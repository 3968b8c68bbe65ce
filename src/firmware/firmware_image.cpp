#include "firmware/firmware_image.h"

#include <QFileInfo>

namespace pellicar {

namespace {

QString AbsolutePath(const QString &path) {
  return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

FirmwareStep ErrorStep(FirmwareVerdict verdict, const char *text) {
  FirmwareStep step;
  step.verdict = verdict;
  step.errorText = QString::fromLatin1(text);
  step.errorCaption = QString::fromLatin1(kFirmwareErrorCaption);
  return step;
}

} // namespace

void TFirmwareImage::Release() {
  heldFor_.clear();
  image_.clear();
}

FirmwareVerdict TFirmwareImage::Recheck(const QString &path) {
  FirmwareFileCheck check = CheckFirmwareFile(path);
  if (check.verdict == FirmwareVerdict::NoFile)
    return check.verdict;
  Release();
  if (check.verdict == FirmwareVerdict::Valid) {
    heldFor_ = AbsolutePath(path);
    image_ = std::move(check.image);
  }
  return check.verdict;
}

FirmwareStep TFirmwareImage::Choose(const QString &editText) {
  const FirmwareVerdict verdict = Recheck(editText);
  if (verdict == FirmwareVerdict::NoFile || verdict == FirmwareVerdict::Valid) {
    FirmwareStep step;
    step.verdict = verdict;
    return step;
  }
  FirmwareStep step = ErrorStep(verdict, kInvalidFirmwareText);
  step.clearEdit = true;
  return step;
}

FirmwareStep TFirmwareImage::PrepareUpload(const QString &editText) {
  if (editText.isEmpty() || !QFileInfo(editText).isFile())
    return ErrorStep(FirmwareVerdict::NoFile, kNeedFirmwareText);
  if (!IsHeld() || heldFor_ != AbsolutePath(editText)) {
    const FirmwareVerdict verdict = Recheck(editText);
    if (verdict == FirmwareVerdict::NoFile) // removed since the look above
      return ErrorStep(verdict, kNeedFirmwareText);
    if (verdict != FirmwareVerdict::Valid)
      return ErrorStep(verdict, kInvalidFirmwareText);
  }
  FirmwareStep step;
  step.verdict = FirmwareVerdict::Valid;
  step.upload = image_;
  return step;
}

} // namespace pellicar
