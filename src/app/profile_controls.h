#pragma once

#include "profile/profile.h"
#include "profile/profile_sections.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

class QLabel;

namespace pellicar {

class TForm1;

// The window's side of profiles: reads every control into a profile,
// fills every control from one, and sends the window's profile over the
// active channels. Lives as long as its window; main thread only.
//
// A profile holds only what it sets, so the window keeps track of the parts
// in play: without an open profile, all of them (the black-mark mode only
// once "ENABLE" or "DISABLE" was pressed, since no control shows it); with
// one open, the parts it set, and every part whose controls the user
// changes afterwards. Save and Send take the parts in play.
class TProfileControls : public QObject {
public:
  explicit TProfileControls(TForm1 &form);
  ~TProfileControls() override;

  // The window's values as a profile named `name`. A field that the
  // integer-field rule refuses, or whose value a profile does not take
  // (an address byte over 255), raises EProfileError naming the field by
  // its label; so does a logo file that can no longer be read.
  Profile Read(const QString &name) const;

  // Fills the controls of every part the profile sets, the logo list and,
  // when present, the "Port" choice with its parameters; sends nothing. The
  // returned lines name what could not be taken (a logo file not found, a
  // printer or serial port this machine does not list, an unset keyEnv).
  // From now on the speed, WPA type, cipher and WEP type lists return to
  // the profile's values on each change of tab.
  QStringList Fill(const Profile &profile);

  // Sends the window's profile, section by section in the sending order,
  // over the active channels, and then shows one box listing each section
  // with its outcome. A field that does not convert is shown in a box and
  // nothing is sent. The logos go as the "Download" button sends them; over
  // TCP the sections after them wait until the printer has acknowledged
  // the whole transfer.
  void Send();

  // Shows the open profile's name in the status bar, beside the clock;
  // an empty name hides it.
  void ShowName(const QString &name);

  // Whether a Send is still waiting for its logo transfer.
  bool Sending() const { return sending_.has_value(); }

private:
  enum Part {
    kBase,
    kMarkMode,
    kMarkPitch,
    kMarkWidth,
    kMarkPrint,
    kMarkCut,
    kWifi,
    kLogos,
    kSpeed,
    kMac,
    kIp,
    kConnection,
    kPartCount
  };

  struct SendRun {
    std::vector<ProfileSection> sections;
    std::size_t next = 0;
    QStringList lines;
    bool failed = false;
  };

  void WatchUserChanges();
  void Touch(Part part) { inPlay_.insert(part); }
  void PutListsBack();
  void FillLogos(const QList<ProfileLogo> &logos, QStringList &notes);
  // Sends sections from run.next on; returns when done or when a transfer
  // must first finish.
  void Continue();
  void Finish();

  TForm1 &form_;
  QSet<int> inPlay_;
  std::optional<bool> markEnabled_;
  // The open profile's list values, put back after each refill.
  std::optional<int> speed_, wpaType_, cipher_, wepType_;
  QString keyEnv_;
  // Embedded logos of the open profile, as files the logo list can hold.
  std::unique_ptr<QTemporaryDir> embedded_;
  std::optional<SendRun> sending_;
  QLabel *nameLabel_ = nullptr;
  QMetaObject::Connection transferDone_;
};

} // namespace pellicar
