#include "apps/cedevice/reference_texts.h"

#include <cstring>

#include "recording/data_sources.h"

namespace cedevice {

namespace {

const char* const overviewText =
    "Every command works on one device home: --home DIR, else $CE_DEVICE_HOME, else ./device.\n"
    "Only `init` and `boot` create a device; the other commands refuse a home that holds\n"
    "none, so a mistyped --home creates nothing. `cedevice help COMMAND` or `cedevice COMMAND\n"
    "--help` describes a command.\n"
    "\n"
    "docs/device.md (in the source tree, or share/doc/cedevice/ where cedevice is installed)\n"
    "describes the device home, the registry settings and how the platform behaves, with a\n"
    "glossary. The device's sources and their bits in \"clientPushList\":\n"
    "\n";

std::string overview() {
  std::string text = overviewText;
  for (const DataSource& source : dataSources)
    text += "  " + std::string(source.name) + std::string(12 - std::strlen(source.name), ' ') +
            std::to_string(source.bit) + "\n";
  text.pop_back();
  return text;
}

const char* const examplesText =
    "A device in /tmp/dev, booted in the background; a contact is added as another program\n"
    "would add it, and the listener's log and the device's state show what it recorded:\n"
    "\n"
    "  export CE_DEVICE_HOME=/tmp/dev\n"
    "  cedevice boot --detach\n"
    "  cedevice pim add contact \"Ada Lovelace\"\n"
    "  cedevice log -n 3\n"
    "  cedevice status\n"
    "\n"
    "A note file that appears in the watched Notes folder is a change to the notes source:\n"
    "\n"
    "  echo 'meeting notes' > \"$CE_DEVICE_HOME/fs/My Documents/Notes/monday.pwi\"\n"
    "\n"
    "The launcher starts \"clientPushInterval\" minutes after the latest change; 0 starts it\n"
    "at once. The scheduler's starts are recorded in \\startsync.txt:\n"
    "\n"
    "  cedevice reg set 'HKLM\\Software\\Quillbex\\SyncclientPIM' clientPushInterval 0\n"
    "  cedevice schedule\n"
    "  cat \"$CE_DEVICE_HOME/fs/startsync.txt\"\n"
    "\n"
    "Changes to the calendar are not recorded while it is suspended:\n"
    "\n"
    "  cedevice send suspend calendar\n"
    "  cedevice send resume calendar\n"
    "\n"
    "The listener closes through its own close sequence:\n"
    "\n"
    "  cedevice shutdown\n"
    "\n"
    "A device run by systemd's user instance, where the unit is installed, and its log:\n"
    "\n"
    "  systemctl --user start \"cedevice@$(systemd-escape --path \"$HOME/device\").service\"\n"
    "  cedevice --home \"$HOME/device\" log -f";

// `lead` then `text`, wrapped at `width` columns with every further line indented as far as
// the text's start, so that the literal paragraph it makes in --help reads as a list.
std::string hangingParagraph(const std::string& lead, const std::string& text, size_t width) {
  std::string out = lead;
  size_t column = lead.size();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    if (column > lead.size() && column + 1 + word.size() > width) {
      out.append("\n").append(lead.size(), ' ');
      column = lead.size();
    } else if (column > lead.size()) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    start = end + 1;
  }
  return out + "\n";
}

ReferenceTexts build() {
  ReferenceTexts texts;
  texts.overview = overview();
  texts.exitStatus = {
      {"0", "Success."},
      {"1", "A failure, with one line on standard error saying why. A failure to write "
            "standard output (a full disk, a closed pipe) is a failure too."},
      {"2", "Bad usage: an unknown command or option, a missing or invalid argument."},
      {"3", "From `status`: the listener or the scheduler is not running."},
  };
  texts.environment = {
      {"CE_DEVICE_HOME", "The processes cedevice starts find their device through it."},
      {"CE_REGISTRY_BUSY_TIMEOUT_MS",
       "How long a registry write waits for another process's write before it fails with "
       "ERROR_BUSY, in milliseconds: 1 to 600000 (5000 when unset or out of range). Read once "
       "per process; the processes `boot` starts inherit it."},
      {"TZ", "The device's time zone: the listener's log and the scheduled starts are in "
             "local time."},
  };
  texts.files = {
      {"<home>/fs/",
       "The device's file system: the device path \\ is this folder. It holds \\notlstnr.txt, "
       "the listener's log; \\startsync.txt, the launcher's record of its runs; the watched "
       "folders \\My Documents\\Briefcase, \\My Documents\\Notes and \\My Documents\\My "
       "Pictures; and the launcher, \\Program Files\\Quillbex\\startsync.exe."},
      {"<home>/system/",
       "registry.db, pim.db and notify.db: the registry, the PIM store and the pending "
       "program starts, in SQLite."},
      {"<home>/run/",
       "Runtime only: a socket per process with windows, the window table, named-mutex lock "
       "files, the boot's records of its processes, run/boot.log of a detached boot and the "
       "output of the programs the device starts."},
  };
  texts.examples = examplesText;
  return texts;
}

}  // namespace

const ReferenceTexts& referenceTexts() {
  static const ReferenceTexts texts = build();
  return texts;
}

std::string helpDetails(const ReferenceTexts& texts, size_t width) {
  std::string text = texts.overview + "\n\nExit status:\n";
  for (const NamedText& status : texts.exitStatus)
    text += hangingParagraph("  " + status.name + "  ", status.text, width);
  text.pop_back();
  return text;
}

}  // namespace cedevice
