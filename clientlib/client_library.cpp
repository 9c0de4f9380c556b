// The log level, the reset of recorded modifications and the source folders.
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

int takePIMModifications(int sources, int* taken) {
  *taken = 0;
  int found = 0;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    auto list = clientlib::readNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList");
    if (!list) return ERROR_SUCCESS;
    found = static_cast<int>(static_cast<uint32_t>(list->bits)) & sources;
    if (found == 0) return ERROR_SUCCESS;  // nothing to take: nothing written
    list->bits &= ~static_cast<uint64_t>(static_cast<uint32_t>(found));
    return clientlib::writeNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList", *list);
  });
  if (rc == ERROR_SUCCESS) *taken = found;
  return rc;
}

int restorePIMModifications(int bits) {
  if (bits == 0) return 0;
  return ce::registry::runInTransaction([bits]() -> LONG {
    // A list that is absent or holds no number meanwhile becomes decimal text again.
    auto list = clientlib::readNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList")
                    .value_or(StoredNumber{});
    list.bits |= static_cast<uint64_t>(static_cast<uint32_t>(bits));
    return clientlib::writeNumberSetting(CLIENT_SETTINGS_KEY, L"clientPushList", list);
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
