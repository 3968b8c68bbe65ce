#pragma once

#include <QByteArray>
#include <QHash>

namespace pellicar {

// Records already converted, keyed by the bytes they were converted from
// (the file's size, headers and pixel data: everything the conversion
// reads), so that a rebuild converts again only what changed. A file
// edited in place has other bytes and is converted again; its name and
// times play no part. Keys are compared whole, not by a digest, so no two
// contents can share a record.
//
// Memory: the entries of the last successful rebuild plus those added
// since (EndRebuild drops the rest). A logo set's records fit in 65539
// bytes, and their pixels in about 2 MiB, which bounds both.
//
// Not thread-safe: one owner (the logo set) uses it from one thread.
class LogoRecordCache {
public:
  // The record converted from `content`, or null. A hit keeps the entry
  // past the next EndRebuild. The pointer is valid until the next call
  // that changes the cache.
  const QByteArray *Find(const QByteArray &content);
  void Insert(const QByteArray &content, const QByteArray &record);
  // A rebuild went through: forgets what it did not use.
  void EndRebuild();

  qsizetype size() const { return entries_.size(); }
  // Records converted (inserted) since the cache was made.
  qint64 conversions() const { return conversions_; }

private:
  struct Entry {
    QByteArray record;
    bool used = true;
  };
  QHash<QByteArray, Entry> entries_;
  qint64 conversions_ = 0;
};

} // namespace pellicar
