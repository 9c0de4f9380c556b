// The log level, the reset of recorded modifications and the source folders.
#include <cstdint>
#include <string>

#include "clientlib/mainclient.h"
#include "clientlib/settings_store.h"
#include "platform/registry_transaction.h"

namespace {

const char* const knownSources[] = {"briefcase", "note", "picture"};

// Where a folder source lives when the client has not been told otherwise.
std::string defaultDirOf(const std::string& source) {
  if (source == "briefcase") return "\\My Documents\\Briefcase";
  if (source == "note") return "\\My Documents\\Notes";
  if (source == "picture") return "\\My Documents\\My Pictures";
  return "";
}

std::string utf8Of(const std::wstring& text) {
  if (text.empty()) return "";
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                 nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                        size, nullptr, nullptr);
  return out;
}

std::wstring sourceKeyOf(const std::string& source) {
  std::wstring key = CLIENT_SETTINGS_KEY L"\\sources\\";
  for (char c : source) key += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return key;
}

}  // namespace

int getLOGLevel() {
  auto text = clientlib::readSetting(CLIENT_SETTINGS_KEY, L"logLevel");
  if (!text) return 1;
  auto level = clientlib::parseDecimal(*text);
  return level ? *level : 1;
}

int getPIMModifications() {
  auto list = clientlib::readNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList");
  // The sources' bits are all in the low 32, which is all an int holds.
  return list ? static_cast<int>(static_cast<uint32_t>(list->bits)) : 0;
}

int resetPIMModifications(int bits) {
  if (bits == 0) return 0;
  return ce::registry::runInTransaction([bits]() -> LONG {
    auto list = clientlib::readNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList");
    if (!list) return ERROR_SUCCESS;  // nothing recorded, nothing to clear
    list->bits &= ~static_cast<uint64_t>(static_cast<uint32_t>(bits));
    return clientlib::writeNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList", *list);
  });
}

namespace {

// The bits a sync has taken from "clientPushList" and not yet finished or put back. Kept in
// the registry, written in the same transaction as the take, so that a launcher killed in the
// middle of its sync leaves them there for the next one instead of losing them.
const wchar_t* const takenValueName = L"clientPushTaken";

uint64_t lowBits(int bits) { return static_cast<uint64_t>(static_cast<uint32_t>(bits)); }

}  // namespace

int takePIMModifications(int sources, int* taken) {
  *taken = 0;
  int found = 0;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    auto list = clientlib::readNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList");
    // What a sync that never ended had taken is recorded again first: over-report, never miss.
    auto left = clientlib::readNumberSetting(CLIENT_SETTINGS_KEY, takenValueName);
    if (left && left->bits != 0) {
      if (!list) list = StoredNumber{};
      list->bits |= left->bits;
    }
    if (!list) return ERROR_SUCCESS;
    found = static_cast<int>(static_cast<uint32_t>(list->bits)) & sources;
    list->bits &= ~lowBits(found);
    if (found == 0 && !left) return ERROR_SUCCESS;  // nothing to take: nothing written
    if (LONG written = clientlib::writeNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList", *list))
      return written;
    if (found == 0) return clientlib::deleteSetting(CLIENT_SETTINGS_KEY, takenValueName);
    StoredNumber held;
    held.bits = lowBits(found);
    return clientlib::writeNumberSetting(CLIENT_SETTINGS_KEY, takenValueName, held);
  });
  if (rc == ERROR_SUCCESS) *taken = found;
  return rc;
}

int finishPIMModifications() {
  return ce::registry::runInTransaction(
      [] { return clientlib::deleteSetting(CLIENT_SETTINGS_KEY, takenValueName); });
}

int restorePIMModifications(int bits) {
  return ce::registry::runInTransaction([bits]() -> LONG {
    if (bits != 0) {
      // A list that is absent or holds no number meanwhile becomes decimal text again.
      auto list = clientlib::readNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList")
                      .value_or(StoredNumber{});
      list.bits |= lowBits(bits);
      if (LONG rc = clientlib::writeNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList", list))
        return rc;
    }
    return clientlib::deleteSetting(CLIENT_SETTINGS_KEY, takenValueName);
  });
}

bool RegConfig::read() {
  for (const char* name : knownSources) {
    SyncSourceConfig* config = source(name);
    auto dir = clientlib::readSetting(sourceKeyOf(name).c_str(), L"dir");
    config->setDir(dir ? utf8Of(*dir) : defaultDirOf(name));
  }
  return true;
}

SyncSourceConfig* RegConfig::source(const char* name) {
  std::string key = name ? name : "";
  auto it = sources_.find(key);
  if (it == sources_.end()) {
    it = sources_.emplace(key, SyncSourceConfig(key)).first;
    it->second.setDir(defaultDirOf(key));
  }
  return &it->second;
}

RegConfig* getRegConfig() {
  // The client keeps one configuration per process, loaded when first asked for.
  static RegConfig* config = [] {
    auto* created = new RegConfig;
    created->read();
    return created;
  }();
  return config;
}

SyncSourceConfig* getWinSyncSourceConfig(RegConfig* config, const char* sourceName) {
  return config ? config->source(sourceName) : nullptr;
}

const char* getSyncDir(SyncSourceConfig* sourceConfig) {
  return sourceConfig ? sourceConfig->dir().c_str() : "";
}
