#pragma once

#include "firmware/firmware_check.h"

#include <QByteArray>
#include <QString>

namespace pellicar {

inline constexpr char kInvalidFirmwareText[] = "Invalid Firmware";
inline constexpr char kNeedFirmwareText[] = "Need Firmware";
inline constexpr char kFirmwareErrorCaption[] = "Error";

// What a firmware handler of the window does next.
struct FirmwareStep {
  FirmwareVerdict verdict = FirmwareVerdict::NoFile;
  // An error box to show (error icon, OK button, owned by the window):
  // kInvalidFirmwareText or kNeedFirmwareText with kFirmwareErrorCaption.
  // Empty: no box.
  QString errorText;
  QString errorCaption;
  // Empty the file-name edit after the box.
  bool clearEdit = false;
  // Upload only: the firmware image to send once the warning is closed.
  // Empty: nothing is sent and no warning is shown.
  QByteArray upload;

  bool ShowsError() const { return !errorText.isEmpty(); }
  bool Sends() const { return !upload.isEmpty(); }
};

// The firmware image the main window holds, and the file it was checked
// from. At most one image is held; each check that finds an existing file
// replaces it (or, when the check fails, leaves none). Only an image that
// passed the check for the very file being uploaded is ever handed out.
// Main thread; the checks read the file before they return.
class TFirmwareImage {
public:
  // After the file dialog of "...": `editText` is the edit's text, the
  // picked path or, when the dialog was cancelled, the text it had.
  //  - names no existing file: nothing happens; the held image stays;
  //  - the file passes: its image is held (valid, no box);
  //  - it fails (also: unreadable, too large): no image is held, the box
  //    "Invalid Firmware" and the edit is cleared.
  FirmwareStep Choose(const QString &editText);

  // "Update" with the edit's text:
  //  - names no existing file: the box "Need Firmware", nothing sent;
  //  - names the file whose image is held: that image is sent;
  //  - names another file (not checked yet, typed by hand): it is checked
  //    now; passing, its image is held and sent; failing, no image is held,
  //    the box "Invalid Firmware", nothing sent, and the edit keeps the text.
  FirmwareStep PrepareUpload(const QString &editText);

  bool IsHeld() const { return !image_.isEmpty(); }
  // The absolute path of the file the held image was checked from.
  const QString &HeldFor() const { return heldFor_; }
  const QByteArray &Image() const { return image_; }

  void Release();

private:
  // Checks the file and replaces the held image unless the file was missing.
  FirmwareVerdict Recheck(const QString &path);

  QString heldFor_;
  QByteArray image_;
};

} // namespace pellicar
