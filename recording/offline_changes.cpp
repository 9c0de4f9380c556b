#include "recording/offline_changes.h"

#include <optional>
#include <string>
#include <vector>

#include "clientlib/mainclient.h"
#include "config/management_node.h"
#include "config/stored_number.h"
#include "textcore/conversions.h"
#include "textcore/text_helpers.h"
#include "textcore/log.h"
#include "platform/pimstore.h"
#include "platform/registry_transaction.h"
#include "platform/windows.h"
#include "recording/change_recording.h"
#include "recording/client_push.h"
#include "recording/data_sources.h"
#include "recording/file_type.h"
#include "recording/folder_summary.h"

namespace {

struct PimSource {
  int sourceId;  // also the PIM folder
  const char* valueName;
};

const PimSource pimSources[] = {
    {olFolderContacts, "clientPushSeenContacts"},
    {olFolderCalendar, "clientPushSeenCalendar"},
    {olFolderTasks, "clientPushSeenTasks"},
};

struct FolderSource {
  int sourceId;
  const char* valueName;
  const char* clientName;  // as the client library names the source
  FolderRules rules;
  HWND ClientPush::*window;
};

// The rules are the folder windows' own: Briefcase takes every entry, Notes only notes,
// Pictures only pictures outside the picture store's files.
const FolderSource folderSources[] = {
    {600, "clientPushSeenBriefcase", "briefcase", briefcaseRules, &ClientPush::briefcaseWindow},
    {601, "clientPushSeenNotes", "note", notesRules, &ClientPush::notesWindow},
    {604, "clientPushSeenPictures", "picture", pictureRules, &ClientPush::pictureWindow},
};

std::string remembered(ClientPush* clientPush, const char* valueName) {
  char* value = clientPush->node->readValue(valueName);
  std::string text = value ? value : "";
  delete[] value;
  return text;
}

void remember(ClientPush* clientPush, const char* valueName, const std::string& text) {
  clientPush->node->writeValue(valueName, text.c_str());
}

int32_t listBits(ClientPush* clientPush) {
  char* stored = clientPush->node->readValue("clientPushList");
  uint64_t bits = leadingNumber(stored).value_or(StoredNumber{}).bits;
  delete[] stored;
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

std::optional<std::string> currentToken(int folder) {
  long long token = 0;
  ce::pim::Result result = ce::pim::readChangeToken(folder, token);
  if (!result) {
    sharedLog()->error("CP: Cannot read the change token of folder %d: %s", folder,
                       result.message.c_str());
    return std::nullopt;
  }
  return std::to_string(token);
}

std::wstring folderPathOf(const char* clientName) {
  SyncSourceConfig* sourceConfig = getWinSyncSourceConfig(getRegConfig(), clientName);
  char* path = duplicateString(getSyncDir(sourceConfig));
  wchar_t* widePath = toWideChar(path);
  std::wstring text = widePath ? widePath : L"";
  delete[] widePath;
  delete[] path;
  return text;
}

std::optional<std::string> currentSummary(const FolderSource& source) {
  std::wstring path = folderPathOf(source.clientName);
  std::optional<std::string> summary = summarizeFolder(path, source.rules);
  if (!summary)
    sharedLog()->error("CP: Cannot list the folder %S", path.c_str());
  return summary;
}

// What start-up found for one source: its state now (none when unreadable) and whether it
// differs from what was remembered.
struct Finding {
  int sourceId;
  const char* valueName;
  std::optional<std::string> now;
  std::string before;  // empty when nothing was remembered
  bool changed;
};

// A source that cannot be read counts as changed: it may have been.
Finding compare(ClientPush* clientPush, int sourceId, const char* valueName,
                std::optional<std::string> now) {
  std::string before = remembered(clientPush, valueName);
  bool changed = !now || (!before.empty() && before != *now);
  return Finding{sourceId, valueName, std::move(now), std::move(before), changed};
}

}  // namespace

void rememberRecordedState(ClientPush* clientPush, int32_t sourceId) {
  const DataSource* source = sourceById(sourceId);
  if (!source || clientPush->sourceFlags[source->flagPosition]) return;
  for (const PimSource& pim : pimSources) {
    if (pim.sourceId != sourceId) continue;
    if (std::optional<std::string> token = currentToken(pim.sourceId))
      remember(clientPush, pim.valueName, *token);
  }
}

void recordChangesWhileStopped(ClientPush* clientPush) {
  if (!clientPush->node) return;
  std::vector<Finding> findings;
  for (const PimSource& pim : pimSources)
    findings.push_back(compare(clientPush, pim.sourceId, pim.valueName,
                               currentToken(pim.sourceId)));
  getRegConfig()->read();
  for (const FolderSource& folder : folderSources)
    findings.push_back(compare(clientPush, folder.sourceId, folder.valueName,
                               currentSummary(folder)));

  std::string names;
  for (const DataSource& source : dataSources)
    for (const Finding& finding : findings)
      if (finding.sourceId == source.sourceId && finding.changed)
        names += (names.empty() ? "" : ", ") + std::string(source.name);
  if (!names.empty()) sharedLog()->info("CP: Changes while stopped: %s", names.c_str());

  for (const Finding& finding : findings)
    if (finding.changed) setPIMModifications(clientPush, finding.sourceId);
  // A change whose bit did not reach the list (the write failed, the source was suspended)
  // keeps the older state, so that the next start finds it again.
  int32_t list = listBits(clientPush);
  for (Finding& finding : findings) {
    const DataSource* source = sourceById(finding.sourceId);
    if (finding.changed && source && !(list & source->bit)) finding.now.reset();
  }
  // After the recording: a crash in between leaves the older state, which records again.
  // An unchanged start writes nothing.
  bool anyNew = false;
  for (const Finding& finding : findings) anyNew |= finding.now && *finding.now != finding.before;
  if (!anyNew) return;
  ce::registry::runInTransaction([&]() -> LONG {
    for (const Finding& finding : findings)
      if (finding.now && *finding.now != finding.before)
        remember(clientPush, finding.valueName, *finding.now);
    return ERROR_SUCCESS;
  });
}

void rememberFolderSummaries(ClientPush* clientPush) {
  if (!clientPush->node) return;
  getRegConfig()->read();
  for (const FolderSource& folder : folderSources) {
    // A change the listener holds because the list could not be written is not recorded
    // yet: a summary taken now would hide it from the next start.
    const DataSource* source = sourceById(folder.sourceId);
    if (source && (clientPush->unrecorded.bits & source->bit)) continue;
    std::optional<std::string> summary = currentSummary(folder);
    if (!summary) continue;
    // Looked at after the listing: every event of a change the listing saw is queued by now,
    // and a change still queued must not be hidden by a summary that already holds it.
    MSG pending;
    if (PeekMessageW(&pending, clientPush->*folder.window, WM_FILECHANGEINFO, WM_FILECHANGEINFO,
                     PM_NOREMOVE))
      continue;
    remember(clientPush, folder.valueName, *summary);
  }
}
