// Allocation and release of the notification records.
#include "platform/linux/shell/notification_records.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace ce::shell {

namespace {

struct LiveRecords {
  std::mutex mutex;
  std::unordered_set<FILECHANGENOTIFY*> records;
};

constexpr size_t keptBuckets = 1024;

LiveRecords& live() {
  static LiveRecords* records = new LiveRecords;  // outlives every static destructor
  return *records;
}

WCHAR* copyText(WCHAR* to, const std::wstring& text) {
  std::memcpy(to, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return to + text.size() + 1;
}

}  // namespace

FILECHANGENOTIFY* newRecord(LONG eventId, const std::wstring& path, const std::wstring* newPath) {
  size_t chars = path.size() + 1 + (newPath ? newPath->size() + 1 : 0);
  void* block = ::operator new(sizeof(FILECHANGENOTIFY) + chars * sizeof(WCHAR));
  auto* record = new (block) FILECHANGENOTIFY{};
  record->dwRefCount = 1;
  record->fci.cbSize = sizeof(FILECHANGEINFO);
  record->fci.wEventId = eventId;
  auto* text = reinterpret_cast<WCHAR*>(record + 1);
  record->fci.dwItem1 = reinterpret_cast<DWORD_PTR>(text);
  text = copyText(text, path);
  if (newPath) {
    record->fci.dwItem2 = reinterpret_cast<DWORD_PTR>(text);
    copyText(text, *newPath);
  }
  std::lock_guard<std::mutex> lock(live().mutex);
  live().records.insert(record);
  return record;
}

bool releaseRecord(FILECHANGENOTIFY* record) {
  {
    std::lock_guard<std::mutex> lock(live().mutex);
    auto it = live().records.find(record);
    if (it == live().records.end()) return false;
    // A receiver that shares the record counts itself in; the last release frees it.
    if (record->dwRefCount > 1) {
      --record->dwRefCount;
      return true;
    }
    live().records.erase(it);
    // A burst leaves the set with buckets for all of its records at once: given back once the
    // last is released, or an idle listener would hold the largest burst's buckets for good.
    if (live().records.empty() && live().records.bucket_count() > keptBuckets)
      std::unordered_set<FILECHANGENOTIFY*>().swap(live().records);
  }
  record->~FILECHANGENOTIFY();
  ::operator delete(record);
  return true;
}

void releaseAllRecords() {
  std::unordered_set<FILECHANGENOTIFY*> records;
  {
    std::lock_guard<std::mutex> lock(live().mutex);
    records.swap(live().records);
  }
  for (FILECHANGENOTIFY* record : records) {
    record->~FILECHANGENOTIFY();
    ::operator delete(record);
  }
}

size_t liveRecordCount() {
  std::lock_guard<std::mutex> lock(live().mutex);
  return live().records.size();
}

}  // namespace ce::shell
