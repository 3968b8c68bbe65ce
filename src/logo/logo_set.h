#pragma once

#include "logo/logo_record_cache.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace pellicar {

// A refusal of the logo storage: the modal box the window shows for it
// (error icon, OK button) and the list entry it concerns.
struct LogoFailure {
  QString text;
  QString caption;
  qsizetype entry = -1; // index in the file list; -1 when no entry failed
  // The one reason that applies, in words (LogoPicture::reason), for the
  // command-line tool; the window's box shows `text` only.
  QString reason;
};

// Converts every file of `files`, in order, into its record and rewrites
// `logoData` as: its first 3 bytes kept (zeros if it was shorter), then one
// record per file. Stops at the first entry that fails and returns its
// failure; `logoData` then holds the records before it:
//   the file does not exist             "Error!" / "Error"
//   not a bitmap that can be read, 0 wide or high, wider than 576
//                                       "Picture invalid" / "Error"
//   the record would take the logo data past its capacity (65539 bytes)
//                                       "Error!" / "Error"
// Returns nothing when every entry was converted. With a `cache`, files
// whose bytes were converted before are not converted again. Any thread
// (a cache belongs to one); reads the files, shows nothing.
std::optional<LogoFailure> BuildLogoData(const QStringList &files, QByteArray &logoData,
                                         LogoRecordCache *cache = nullptr);

// "Space: %d,%03d Used, %d,%03d Free" for `used` bytes of the capacity.
QString LogoSpaceLabel(qint64 used);

// The logo set behind the logo panel: the file list (full paths, in the
// order added, duplicates allowed) and the logo data built from it. Every
// change rebuilds the data at once, and the two always agree: after every
// call the data holds exactly one record per listed file, so a download
// never sends a count that the data does not match.
//
// A change reports what the window must show, in order. For each refusal
// the window shows its box, then removes the `takeOut` entries from its
// list box one after the other (each index counts after the removal
// before it), which keeps the list box in step with files().
//
// Every rebuild reads every listed file, but converts only those whose
// bytes it has not converted before (LogoRecordCache).
//
// Main thread (it reads the files); not shared.
class LogoSet {
public:
  // The count byte of the download command holds at most this many.
  static constexpr qsizetype kMaxLogos = 255;

  struct Refusal {
    LogoFailure failure;
    QList<qsizetype> takeOut;
  };

  struct Change {
    // False: nothing was changed, and the space label stays as it is.
    bool changed = false;
    // Delete: the entry removed (the list box removes the same index).
    qsizetype removed = -1;
    QList<Refusal> refusals;
  };

  const QStringList &files() const { return files_; }
  qsizetype count() const { return files_.size(); }
  bool isEmpty() const { return files_.isEmpty(); }
  // The logo data: the command bytes (set by DownloadStream) and the
  // records. Empty until the first change.
  const QByteArray &data() const { return data_; }
  qint64 usedBytes() const { return data_.size(); }

  // What the list box shows for a path: the file name, extension kept.
  static QString DisplayName(const QString &path);

  // The box that refuses an add before the picture dialog is shown (the
  // set already holds kMaxLogos entries); nothing when an add may go on.
  std::optional<LogoFailure> CheckAdd() const;

  // Adds `path` at the end and rebuilds. When the rebuild fails, the entry
  // just added is taken out after the box; when it failed on an earlier
  // entry (its file removed or changed on disk), that entry is taken out
  // as well. Further failures of the rebuilds that follow take out their
  // entries the same way. Refused without change when CheckAdd refuses.
  Change Add(const QString &path);

  // Removes entry `selected`, or the last entry when `selected` is not a
  // valid index (no selection), and rebuilds; entries whose rebuild fails
  // are taken out after their boxes. Nothing happens on an empty set.
  Change Delete(qsizetype selected);

  // The label for the current data ("Space: 0,003 Used, 65,536 Free").
  QString SpaceLabel() const { return LogoSpaceLabel(usedBytes()); }

  // The box that refuses a download of an empty set ("Select A File",
  // caption "Error!"); nothing when a download may go on.
  std::optional<LogoFailure> CheckDownload() const;

  // Writes the command bytes 1C 71 n (n = the number of entries) into the
  // logo data and returns a copy of the whole: the FS q command with every
  // record. Empty when the set is empty. Each channel gets its own copy
  // (QByteArray is shared on copy; a QBuffer per channel starts at 0).
  QByteArray DownloadStream();

private:
  // Rebuilds; while it fails, records the refusal, takes out the failing
  // entry (and `extra`, an entry taken out with the first one) and
  // rebuilds again.
  void RebuildTakingOut(Change &change, qsizetype extra);

  QStringList files_;
  QByteArray data_;
  LogoRecordCache cache_;
};

} // namespace pellicar
