#include "logo/logo_record_cache.h"

namespace pellicar {

const QByteArray *LogoRecordCache::Find(const QByteArray &content) {
  const auto it = entries_.find(content);
  if (it == entries_.end())
    return nullptr;
  it->used = true;
  return &it->record;
}

void LogoRecordCache::Insert(const QByteArray &content, const QByteArray &record) {
  entries_.insert(content, Entry{record, true});
  ++conversions_;
}

void LogoRecordCache::EndRebuild() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (!it->used) {
      it = entries_.erase(it);
      continue;
    }
    it->used = false;
    ++it;
  }
}

} // namespace pellicar
