// The synchronisation client's library, as far as the listener and the launcher use it: the
// log level, the folders of the folder sources, date arithmetic and the reset of recorded
// modifications. Everything is kept in the same registry node the listener writes.
#pragma once

#include <map>
#include <string>

#include "platform/windows.h"

// Registry key of the client's settings, below HKEY_LOCAL_MACHINE.
#define CLIENT_SETTINGS_KEY L"Software\\Quillbex\\SyncclientPIM"

// The decimal value "logLevel"; 1 when it is absent or not a number.
int getLOGLevel();

// The recorded modifications: "clientPushList" read as atoi does, or as the number another
// program stored it as; 0 when absent.
int getPIMModifications();

// Clears the given bits of "clientPushList" in one registry transaction, so that a bit another
// process sets meanwhile is never lost; 0 clears none. Returns 0, or the registry error.
int resetPIMModifications(int bits);

// The launcher's side of the list. A sync takes the bits of `sources` that are set, clearing
// them in the same registry transaction that reads them, so that a change recorded while the
// sync runs sets its bit again for the next one; `*taken` receives the bits taken (0 on an
// error). The taken bits are kept aside in "clientPushTaken" until the sync finishes or puts
// them back; a take finds there what a sync that never ended (a launcher killed) had taken,
// and takes it again. Returns 0, or the registry error, which takes nothing.
int takePIMModifications(int sources, int* taken);
// Ends a sync that succeeded: what it took is no longer kept aside. Returns 0, or the
// registry error (the next take then syncs those sources again).
int finishPIMModifications();
// Puts back the bits of a sync that failed, in one transaction beside whatever was recorded
// meanwhile, and ends it. Returns 0, or the registry error.
int restorePIMModifications(int bits);

// One data source's settings.
class SyncSourceConfig {
 public:
  explicit SyncSourceConfig(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  const std::string& dir() const { return dir_; }
  void setDir(std::string dir) { dir_ = std::move(dir); }

 private:
  std::string name_;
  std::string dir_;  // UTF-8 device path
};

// The client's configuration: the source folders, reloaded from the registry by read().
class RegConfig {
 public:
  // Reloads every known source's folder; a folder the registry does not name takes its
  // default. Always true: a missing setting is not an error.
  bool read();
  // The source of that name, created with an empty folder when unknown.
  SyncSourceConfig* source(const char* name);

 private:
  std::map<std::string, SyncSourceConfig> sources_;
};

// The process's one configuration object (read on first use).
RegConfig* getRegConfig();
SyncSourceConfig* getWinSyncSourceConfig(RegConfig* config, const char* sourceName);
// The source's folder as UTF-8 text owned by the library ("" for a null source).
const char* getSyncDir(SyncSourceConfig* sourceConfig);

// `base` advanced by unit × count intervals of 100 ns, with the day of week recomputed. A
// base that is not a valid time, or a result outside 1601..30827, gives the all-zero time,
// which the run-at-time service refuses.
SYSTEMTIME DT_AddDiff(LONGLONG unit, LONGLONG count, const SYSTEMTIME* base);
