// Allocation and release of the notification records, on Windows.
#include "platform/win32/shell/notification_records.h"

#include <cstring>
#include <new>
#include <unordered_set>

namespace ce::shell {

namespace {

struct LiveRecords {
  LiveRecords() { InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::unordered_set<FILECHANGENOTIFY*> records;
};

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
  LiveRecords& all = live();
  EnterCriticalSection(&all.lock);
  all.records.insert(record);
  LeaveCriticalSection(&all.lock);
  return record;
}

bool releaseRecord(FILECHANGENOTIFY* record) {
  LiveRecords& all = live();
  EnterCriticalSection(&all.lock);
  auto found = all.records.find(record);
  if (found == all.records.end()) {
    LeaveCriticalSection(&all.lock);
    return false;
  }
  // A receiver that shares the record counts itself in; the last release frees it.
  if (record->dwRefCount > 1) {
    --record->dwRefCount;
    LeaveCriticalSection(&all.lock);
    return true;
  }
  all.records.erase(found);
  LeaveCriticalSection(&all.lock);
  record->~FILECHANGENOTIFY();
  ::operator delete(record);
  return true;
}

}  // namespace ce::shell
