// pim.db on Windows: one file, replaced whole at every change.
//
// Why this shape: the Windows build has no SQLite, and the PIM stores this build serves are
// those of tests and scenarios, tens of items. A change locks the store's named mutex, reads
// the file, writes the new content beside it, flushes it and moves it over the old one
// (platform/win32/objectstore): durable when the call returns, and whole whatever moment a
// process dies at. The cost grows with the store: fine for what is served here, and the first
// thing to replace should this build ever hold a real address book. FIXME: a store of
// thousands of items rewrites them all at every change.
//
// Object ids come from a counter kept in the file and are never reused: a notification for a
// deleted item must not be mistaken for a later item that got the same id. Each folder has a
// change token that every committed add, change and delete raises in the same replacement.
//
// The file: a first line "cepim 1", then "next <oid>", "token <folder> <n>" per folder ever
// changed, "item <oid> <folder> <modified> <bytes> <subject>" per item (the subject counted,
// so that any byte may stand in it) and "sub <window> <folder> <mode> <pid> <started>" per
// subscription. A file of another format is refused and never written over.
#include "platform/win32/poom/store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/win32/objectstore/object_store.h"

namespace ce::poom {

namespace {

constexpr char kHeader[] = "cepim 1\n";
// Long enough for a burst of writers on a slow disk, short enough that a wedged peer is
// reported instead of hanging a tool.
constexpr DWORD kBusyTimeoutMs = 5000;
// Object ids travel in a DWORD (wParam on the device).
constexpr unsigned long long kMaxOid = 0xFFFFFFFFull;

struct StoredItem {
  int folder;
  std::string subject;
  long long modified;
};

struct Content {
  unsigned long long next = 1;
  std::map<int, long long> tokens;
  std::map<DWORD, StoredItem> items;
  std::vector<Subscriber> subscriptions;  // ordered by folder, then window
};

pim::Result fail(pim::Status status, std::string message) {
  pim::Result result;
  result.status = status;
  result.message = std::move(message);
  return result;
}

pim::Result badFolder(int folder) {
  return fail(pim::Status::badFolder, "no PIM folder has the id " + std::to_string(folder));
}

pim::Result checkSubject(const std::string& subject) {
  if (subject.size() > pim::maxSubjectBytes)
    return fail(pim::Status::badSubject,
                "subject longer than " + std::to_string(pim::maxSubjectBytes) + " bytes");
  if (subject.find('\0') != std::string::npos)
    return fail(pim::Status::badSubject, "subject contains a NUL character");
  if (!ce::win32::isUtf8(subject))
    return fail(pim::Status::badSubject, "subject is not valid UTF-8");
  return {};
}

long long localTicksNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  FILETIME ft{};
  SystemTimeToFileTime(&now, &ft);
  return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) |
                                ft.dwLowDateTime);
}

FILETIME fileTimeOf(long long ticks) {
  auto value = static_cast<unsigned long long>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

// Reads whitespace-separated integers from a line; false when one is missing.
class Fields {
 public:
  explicit Fields(const char* at) : at_(at) {}
  bool next(long long& value) {
    char* end = nullptr;
    value = std::strtoll(at_, &end, 10);
    if (end == at_ || (*end != ' ' && *end != '\n')) return false;
    at_ = *end == ' ' ? end + 1 : end;
    return true;
  }
  const char* at() const { return at_; }

 private:
  const char* at_;
};

bool parse(const std::string& bytes, Content& content) {
  content = Content{};
  if (bytes.empty()) return true;  // never written
  if (bytes.compare(0, sizeof kHeader - 1, kHeader) != 0) return false;
  size_t at = sizeof kHeader - 1;
  while (at < bytes.size()) {
    size_t space = bytes.find(' ', at);
    if (space == std::string::npos) return false;
    std::string kind = bytes.substr(at, space - at);
    Fields fields(bytes.c_str() + space + 1);
    long long a, b, c, d, e;
    if (kind == "next") {
      if (!fields.next(a) || a < 1) return false;
      content.next = static_cast<unsigned long long>(a);
    } else if (kind == "token") {
      if (!fields.next(a) || !fields.next(b) || !isPimFolder(static_cast<int>(a))) return false;
      content.tokens[static_cast<int>(a)] = b;
    } else if (kind == "item") {
      if (!fields.next(a) || !fields.next(b) || !fields.next(c) || !fields.next(d) || a < 1 ||
          a > static_cast<long long>(kMaxOid) || !isPimFolder(static_cast<int>(b)) || d < 0)
        return false;
      size_t textAt = static_cast<size_t>(fields.at() - bytes.c_str());
      size_t count = static_cast<size_t>(d);
      if (count > bytes.size() || textAt + count >= bytes.size() || bytes[textAt + count] != '\n')
        return false;
      content.items[static_cast<DWORD>(a)] =
          StoredItem{static_cast<int>(b), bytes.substr(textAt, count), c};
      at = textAt + count + 1;
      continue;
    } else if (kind == "sub") {
      if (!fields.next(a) || !fields.next(b) || !fields.next(c) || !fields.next(d) ||
          !fields.next(e) || !isPimFolder(static_cast<int>(b)))
        return false;
      content.subscriptions.push_back(Subscriber{a, static_cast<int>(b), static_cast<DWORD>(c),
                                                 static_cast<int>(d),
                                                 static_cast<unsigned long long>(e)});
    } else {
      return false;
    }
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) return false;
    at = end + 1;
  }
  return true;
}

std::string format(const Content& content) {
  std::string bytes = kHeader;
  char line[160];
  std::snprintf(line, sizeof line, "next %llu\n", content.next);
  bytes += line;
  for (const auto& [folder, token] : content.tokens) {
    std::snprintf(line, sizeof line, "token %d %lld\n", folder, token);
    bytes += line;
  }
  for (const auto& [oid, item] : content.items) {
    std::snprintf(line, sizeof line, "item %lu %d %lld %zu ", static_cast<unsigned long>(oid),
                  item.folder, item.modified, item.subject.size());
    bytes += line;
    bytes += item.subject;
    bytes += '\n';
  }
  for (const Subscriber& s : content.subscriptions) {
    std::snprintf(line, sizeof line, "sub %lld %d %lu %d %llu\n", s.window, s.folder,
                  static_cast<unsigned long>(s.mode), s.pid, s.started);
    bytes += line;
  }
  return bytes;
}

pim::Result storeFailure(const std::string& doing, DWORD error) {
  return fail(pim::Status::storeFailed,
              "pim.db: " + doing + ": " +
                  (error == ERROR_SHARING_VIOLATION ? std::string("locked by another process")
                                                    : "error " + std::to_string(error)));
}

// Runs `body` on the store's content under its lock; writes the content back when `body`
// sets `write`.
template <typename Body>
pim::Result withContent(Body body) {
  std::wstring folder;
  if (DWORD error = ce::win32::storeFolder(folder); error != ERROR_SUCCESS)
    return storeFailure("opening the store folder", error);
  const std::wstring path = folder + L"\\pim.db";
  ce::win32::StoreLock lock(path, kBusyTimeoutMs);
  if (!lock) return storeFailure("locking the store", lock.error());
  std::string bytes;
  DWORD read = ce::win32::readWholeFile(path, bytes);
  if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND)
    return storeFailure("reading the store", read);
  Content content;
  if (!parse(bytes, content))
    return fail(pim::Status::storeFailed, "pim.db: not a PIM store of this device");
  bool write = read == ERROR_FILE_NOT_FOUND;  // an empty store is made at the first open
  pim::Result result = body(content, write);
  if (!result || !write) return result;
  if (DWORD error = ce::win32::replaceWholeFile(path, format(content)); error != ERROR_SUCCESS)
    return storeFailure("committing", error);
  return result;
}

std::vector<Subscriber> subscribersOf(const Content& content, int folder) {
  std::vector<Subscriber> out;
  for (const Subscriber& s : content.subscriptions)
    if (s.folder == folder) out.push_back(s);
  return out;
}

}  // namespace

bool isPimFolder(int folder) {
  return folder == olFolderCalendar || folder == olFolderContacts || folder == olFolderTasks;
}

pim::Result addItem(int folder, const std::string& subject, CommittedChange& change) {
  if (!isPimFolder(folder)) return badFolder(folder);
  if (pim::Result checked = checkSubject(subject); !checked) return checked;
  return withContent([&](Content& content, bool& write) {
    if (content.next > kMaxOid) return fail(pim::Status::storeFailed, "pim.db: object ids are used up");
    DWORD oid = static_cast<DWORD>(content.next++);
    content.items[oid] = StoredItem{folder, subject, localTicksNow()};
    ++content.tokens[folder];
    change = CommittedChange{Change::created, oid, folder, subscribersOf(content, folder)};
    write = true;
    return pim::Result{};
  });
}

pim::Result changeItem(DWORD oid, const std::optional<std::string>& subject,
                       CommittedChange& change) {
  if (subject)
    if (pim::Result checked = checkSubject(*subject); !checked) return checked;
  return withContent([&](Content& content, bool& write) {
    auto found = content.items.find(oid);
    if (found == content.items.end())
      return fail(pim::Status::noSuchItem, "no item has the id " + std::to_string(oid));
    StoredItem& item = found->second;
    if (subject) item.subject = *subject;
    // A change must be visible as one: with the clock set back, the time still moves.
    item.modified = std::max(localTicksNow(), item.modified + 1);
    ++content.tokens[item.folder];
    change = CommittedChange{Change::changed, oid, item.folder, subscribersOf(content, item.folder)};
    write = true;
    return pim::Result{};
  });
}

pim::Result deleteItem(DWORD oid, CommittedChange& change) {
  return withContent([&](Content& content, bool& write) {
    auto found = content.items.find(oid);
    if (found == content.items.end())
      return fail(pim::Status::noSuchItem, "no item has the id " + std::to_string(oid));
    int folder = found->second.folder;
    content.items.erase(found);
    ++content.tokens[folder];
    change = CommittedChange{Change::deleted, oid, folder, subscribersOf(content, folder)};
    write = true;
    return pim::Result{};
  });
}

pim::Result listItems(int folder, std::vector<pim::Item>& items) {
  if (folder != 0 && !isPimFolder(folder)) return badFolder(folder);
  items.clear();
  return withContent([&](Content& content, bool&) {
    for (const auto& [oid, item] : content.items)
      if (folder == 0 || item.folder == folder)
        items.push_back(pim::Item{oid, item.folder, item.subject, fileTimeOf(item.modified)});
    return pim::Result{};
  });
}

pim::Result listSubscribers(std::vector<Subscriber>& subscribers) {
  subscribers.clear();
  return withContent([&](Content& content, bool&) {
    subscribers = content.subscriptions;
    return pim::Result{};
  });
}

pim::Result changeToken(int folder, long long& token) {
  if (!isPimFolder(folder)) return badFolder(folder);
  return withContent([&](Content& content, bool&) {
    auto found = content.tokens.find(folder);
    token = found == content.tokens.end() ? 0 : found->second;
    return pim::Result{};
  });
}

pim::Result openStore() {
  return withContent([](Content&, bool&) { return pim::Result{}; });
}

pim::Result subscribe(long long window, int folder, DWORD mode, int pid,
                      unsigned long long started) {
  if (!isPimFolder(folder)) return badFolder(folder);
  return withContent([&](Content& content, bool& write) {
    auto& all = content.subscriptions;
    std::erase_if(all, [&](const Subscriber& s) { return s.window == window && s.folder == folder; });
    if (mode != 0) all.push_back(Subscriber{window, folder, mode, pid, started});
    std::sort(all.begin(), all.end(), [](const Subscriber& a, const Subscriber& b) {
      return a.folder != b.folder ? a.folder < b.folder : a.window < b.window;
    });
    write = true;
    return pim::Result{};
  });
}

pim::Result endSubscriptions(const std::vector<long long>& windows) {
  if (windows.empty()) return {};
  return withContent([&](Content& content, bool& write) {
    write = std::erase_if(content.subscriptions, [&](const Subscriber& s) {
              return std::find(windows.begin(), windows.end(), s.window) != windows.end();
            }) > 0;
    return pim::Result{};
  });
}

}  // namespace ce::poom
