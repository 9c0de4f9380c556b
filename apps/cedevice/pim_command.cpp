// `cedevice pim`: changes the device's contacts, calendar and tasks as another program on the
// device would, so the listener hears of it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/json_output.h"
#include "apps/cedevice/usage_errors.h"
#include "platform/pimstore.h"
#include "platform/linux/stores.h"
#include "platform/windows.h"

namespace pim_command {
namespace {

// A folder by any of its names: `pim add contact` and `pim list contacts` read naturally, and
// each command takes every form, so neither is a mistake.
struct FolderName {
  const char* folder;  // as `pim list` prints it
  const char* item;
  const char* items;
  int id;
};

const FolderName folders[] = {
    {"contacts", "contact", "contacts", olFolderContacts},
    {"calendar", "appointment", "appointments", olFolderCalendar},
    {"tasks", "task", "tasks", olFolderTasks},
};

std::vector<std::string> folderWords() {
  std::vector<std::string> words;
  for (const auto& f : folders)
    for (const char* word : {f.item, f.items, f.folder})
      if (std::find(words.begin(), words.end(), word) == words.end()) words.emplace_back(word);
  return words;
}

int folderNamed(const std::string& word) {
  for (const auto& f : folders)
    if (word == f.folder || word == f.item || word == f.items) return f.id;
  return 0;
}

const char* folderName(int id) {
  for (const auto& f : folders)
    if (f.id == id) return f.folder;
  return "?";
}

std::string timeText(const FILETIME& ft) {
  SYSTEMTIME t{};
  if (!FileTimeToSystemTime(&ft, &t)) return "-";
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

void check(const ce::pim::Result& result) {
  if (!result)
    throw cedevice::Failure(cedevice::storeFailure(ce::pimStoreName, result.message), 1);
}

// A change the listener never heard of is recorded only at its next start: the caller must
// know, so it fails, once whatever it prints is out.
void reportUndelivered(const ce::pim::Result& result) {
  if (result.undelivered > 0)
    throw cedevice::Failure(
        "the change is stored, but " + std::to_string(result.undelivered) +
            " subscribed window(s) could not be reached; see `cedevice status`",
        1);
}

struct Options {
  std::string kind;
  std::string subject;
  uint32_t id = 0;
  std::string folder;
  bool json = false;
};

void setup(CLI::App& app) {
  static Options options;
  auto* pim = cedevice::describe(
      app.add_subcommand("pim", "Add, change, delete or list contacts, appointments "
                                "and tasks, notifying the subscribed windows"),
      "Each change notifies the subscribed windows of other processes, as the device's PIM\n"
      "store does, so a running listener records it. An unknown id exits 1, and so does a\n"
      "change that a subscribed window could not be told of (it is stored all the same).");
  pim->require_subcommand(1);

  auto* add = pim->add_subcommand("add", "Add an item and print its id");
  add->add_option("kind", options.kind,
                  "contact, appointment or task (or contacts, calendar, tasks)")
      ->required()
      ->check(cedevice::oneOf(folderWords()));
  add->add_option("subject", options.subject, "The item's subject (UTF-8)")->required();
  add->callback([] {
    DWORD oid = 0;
    ce::pim::Result added = ce::pim::addItem(folderNamed(options.kind), options.subject, oid);
    check(added);
    std::printf("%u\n", static_cast<unsigned>(oid));
    reportUndelivered(added);
  });

  auto* change = pim->add_subcommand("change", "Change an item: its subject, or else only its "
                                               "modification time");
  change->add_option("id", options.id, "The item's id")
      ->required()
      ->check(cedevice::wholeNumber());
  auto* subject = change->add_option("subject", options.subject, "The new subject (UTF-8)");
  change->callback([subject] {
    std::optional<std::string> newSubject;
    if (subject->count() > 0) newSubject = options.subject;
    ce::pim::Result changed = ce::pim::changeItem(options.id, newSubject);
    check(changed);
    reportUndelivered(changed);
  });

  auto* remove = pim->add_subcommand("delete", "Delete an item");
  remove->add_option("id", options.id, "The item's id")
      ->required()
      ->check(cedevice::wholeNumber());
  remove->callback([] {
    ce::pim::Result deleted = ce::pim::deleteItem(options.id);
    check(deleted);
    reportUndelivered(deleted);
  });

  auto* list = pim->add_subcommand("list", "List items: id, folder, last change, subject");
  list->add_option("folder", options.folder,
                   "contacts, calendar or tasks (or contact, appointment, task; default: all)")
      ->check(cedevice::oneOf(folderWords()));
  list->add_flag("--json", options.json,
                 "Print a JSON array of {\"id\", \"folder\", \"modified\", \"subject\"}");
  list->callback([] {
    std::vector<ce::pim::Item> items;
    check(ce::pim::listItems(items, options.folder.empty() ? 0 : folderNamed(options.folder)));
    if (options.json) {
      nlohmann::json out = nlohmann::json::array();
      for (const auto& item : items)
        out.push_back({{"id", item.oid},
                       {"folder", folderName(item.folder)},
                       {"modified", timeText(item.modified)},
                       {"subject", item.subject}});
      cedevice::printJson(out);
      return;
    }
    for (const auto& item : items)
      std::printf("%u\t%s\t%s\t%s\n", static_cast<unsigned>(item.oid), folderName(item.folder),
                  timeText(item.modified).c_str(), cedevice::oneLine(item.subject, true).c_str());
  });
}

cedevice::CommandGroup group(40, setup);

}  // namespace
}  // namespace pim_command
