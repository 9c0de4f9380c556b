// The run-at-time requests on Windows: one small file, replaced whole at every change.
//
// Why this shape: there is at most one request per program (a new one replaces the old), so
// the store holds a handful of lines and a change costs one read, one write of a few hundred
// bytes, one flush and one rename (platform/win32/objectstore). The listener asks on every
// change it records, mostly for the request already pending: that costs the read alone, and
// no flush. Processes take the store's named mutex for each operation, so a claim by the
// scheduler and a replacement by the listener never interleave: the scheduler removes exactly
// the request it read (same program, same time) and leaves a newer one pending.
//
// After each change, with the new file in place, the store's named event is set: the
// scheduler's wake-up thus always follows a commit it can read. The event is auto-reset and
// the scheduler opens it before it reads the store, so a change made between its read and its
// sleep still wakes it.
//
// The file: a first line "cenotify 1", then one line per request, "<due> <bytes> <app>", the
// due time in FILETIME ticks of local time and the device path in UTF-8, counted so that any
// character may stand in it. A file of another format is refused, never written over, so a
// newer build's requests are not damaged by an older one.
#include "platform/win32/notify/request_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/notify.h"
#include "platform/win32/objectstore/object_store.h"

namespace ce::notify::store {

namespace {

constexpr char kHeader[] = "cenotify 1\n";
constexpr long long kTicksPerSecond = 10000000;

struct Stored {
  std::wstring key;  // the app in upper case: one request per program
  Row row;
};

DWORD storePath(std::wstring& path) {
  std::wstring folder;
  if (DWORD error = ce::win32::storeFolder(folder); error != ERROR_SUCCESS)
    return ERROR_ACCESS_DENIED;
  path = folder + L"\\notify.db";
  return ERROR_SUCCESS;
}

std::wstring keyOf(const std::wstring& app) {
  std::wstring key = app;
  // The device compares program paths as the file system does, without regard to case.
  if (!key.empty())
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, app.c_str(),
                  static_cast<int>(app.size()), key.data(), static_cast<int>(key.size()),
                  nullptr, nullptr, 0);
  return key;
}

bool toUtf8(const std::wstring& text, std::string& bytes) {
  bytes.clear();
  if (text.empty()) return true;
  int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                                 static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  bytes.resize(static_cast<size_t>(size));
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      bytes.data(), size, nullptr, nullptr);
  return true;
}

bool fromUtf8(const std::string& bytes, std::wstring& text) {
  text.clear();
  if (bytes.empty()) return true;
  int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                 static_cast<int>(bytes.size()), nullptr, 0);
  if (size <= 0) return false;
  text.resize(static_cast<size_t>(size));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                      text.data(), size);
  return true;
}

bool parse(const std::string& bytes, std::vector<Stored>& requests) {
  requests.clear();
  if (bytes.empty()) return true;  // never written
  if (bytes.compare(0, sizeof kHeader - 1, kHeader) != 0) return false;
  size_t at = sizeof kHeader - 1;
  while (at < bytes.size()) {
    char* end = nullptr;
    const char* start = bytes.c_str() + at;
    long long due = std::strtoll(start, &end, 10);
    if (end == start || *end != ' ' || due < 0) return false;
    const char* countStart = end + 1;
    unsigned long long count = std::strtoull(countStart, &end, 10);
    if (end == countStart || *end != ' ') return false;
    size_t textAt = static_cast<size_t>(end + 1 - bytes.c_str());
    if (count > bytes.size() || textAt + count >= bytes.size() || bytes[textAt + count] != '\n')
      return false;
    Stored stored;
    if (!fromUtf8(bytes.substr(textAt, count), stored.row.app) || stored.row.app.empty())
      return false;
    stored.row.due = due;
    stored.key = keyOf(stored.row.app);
    requests.push_back(std::move(stored));
    at = textAt + count + 1;
  }
  return true;
}

std::string format(const std::vector<Stored>& requests) {
  std::string bytes = kHeader;
  for (const Stored& stored : requests) {
    std::string app;
    toUtf8(stored.row.app, app);  // every stored app was converted once already
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%lld %zu ", stored.row.due, app.size());
    bytes += prefix;
    bytes += app;
    bytes += '\n';
  }
  return bytes;
}

// Runs `body` on the requests with the store locked; when it says so, writes them back and
// sets the change event.
template <typename Body>
DWORD withRequests(Body body) {
  std::wstring path;
  if (DWORD error = storePath(path); error != ERROR_SUCCESS) return error;
  ce::win32::StoreLock lock(path, storeBusyTimeoutMs);
  if (!lock) return lock.error() == ERROR_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION
                                                            : ERROR_ACCESS_DENIED;
  std::string bytes;
  DWORD read = ce::win32::readWholeFile(path, bytes);
  if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return ERROR_ACCESS_DENIED;
  std::vector<Stored> requests;
  if (!parse(bytes, requests)) return ERROR_BADDB;
  bool write = false;
  if (DWORD error = body(requests, write); error != ERROR_SUCCESS || !write) return error;
  std::sort(requests.begin(), requests.end(), [](const Stored& a, const Stored& b) {
    return a.row.due != b.row.due ? a.row.due < b.row.due : a.key < b.key;
  });
  DWORD replaced = ce::win32::replaceWholeFile(path, format(requests));
  if (replaced != ERROR_SUCCESS)
    return replaced == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
  return ERROR_SUCCESS;
}

// Due times still to come are kept to the whole second: the scheduler's own resolution and the
// time the listener logs, so a burst of requests within one second is written once. A time
// already come is kept exact: the scheduler may be claiming the pending request at this moment,
// and only a different time tells it that a newer request replaced the one it listed.
long long atStoreResolution(long long due) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  FILETIME nowFile;
  if (!SystemTimeToFileTime(&now, &nowFile)) return due;
  long long nowTicks = static_cast<long long>(
      (static_cast<unsigned long long>(nowFile.dwHighDateTime) << 32) | nowFile.dwLowDateTime);
  long long whole = due - due % kTicksPerSecond;
  return whole > nowTicks ? whole : due;
}

}  // namespace

DWORD put(const std::wstring& app, long long due, bool& written) {
  written = false;
  std::string bytes;
  if (!toUtf8(app, bytes)) return ERROR_INVALID_NAME;
  const std::wstring key = keyOf(app);
  const long long stored = atStoreResolution(due);
  DWORD result = withRequests([&](std::vector<Stored>& requests, bool& write) {
    auto found = std::find_if(requests.begin(), requests.end(),
                              [&](const Stored& s) { return s.key == key; });
    if (found != requests.end() && found->row.app == app && found->row.due == stored)
      return static_cast<DWORD>(ERROR_SUCCESS);  // pending already: nothing to write
    if (found != requests.end()) requests.erase(found);
    requests.push_back(Stored{key, Row{app, stored}});
    write = true;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  written = result == ERROR_SUCCESS;
  return result;
}

DWORD remove(const std::wstring& app, bool& written) {
  written = false;
  const std::wstring key = keyOf(app);
  return withRequests([&](std::vector<Stored>& requests, bool& write) {
    write = std::erase_if(requests, [&](const Stored& s) { return s.key == key; }) > 0;
    written = write;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD removeExactly(const std::wstring& app, long long due, bool& removed) {
  removed = false;
  const std::wstring key = keyOf(app);
  DWORD result = withRequests([&](std::vector<Stored>& requests, bool& write) {
    write = std::erase_if(requests, [&](const Stored& s) {
              return s.key == key && s.row.due == due;
            }) > 0;
    removed = write;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  if (result != ERROR_SUCCESS) removed = false;
  return result;
}

DWORD list(long long dueAtMost, std::vector<Row>& rows) {
  rows.clear();
  return withRequests([&](std::vector<Stored>& requests, bool&) {
    std::stable_sort(requests.begin(), requests.end(), [](const Stored& a, const Stored& b) {
      return a.row.due != b.row.due ? a.row.due < b.row.due : a.key < b.key;
    });
    for (const Stored& stored : requests)
      if (stored.row.due <= dueAtMost) rows.push_back(stored.row);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD earliestDue(long long& due, bool& found) {
  found = false;
  return withRequests([&](std::vector<Stored>& requests, bool&) {
    for (const Stored& stored : requests)
      if (!found || stored.row.due < due) {
        due = stored.row.due;
        found = true;
      }
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
}

DWORD changeEventName(std::wstring& name) {
  std::wstring path;
  if (DWORD error = storePath(path); error != ERROR_SUCCESS) return error;
  name = ce::win32::storeObjectName(path, L"changed");
  return ERROR_SUCCESS;
}

std::string describe(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION: return "notify.db: locked by another process";
    case ERROR_ACCESS_DENIED: return "notify.db: cannot be opened";
    case ERROR_BADDB: return "notify.db: damaged or of a newer format";
    case ERROR_CANTWRITE: return "notify.db: cannot be replaced";
    default: return "notify.db: error " + std::to_string(error);
  }
}

}  // namespace ce::notify::store
