#include "apps/cedevice/completion.h"

#include <algorithm>
#include <cctype>

#include "apps/cedevice/device_access.h"
#include "apps/cedevice/device_glance.h"
#include "apps/cedevice/device_presence.h"
#include "apps/cedevice/reg_keys.h"
#include "platform/pimstore.h"
#include "platform/windows.h"

namespace cedevice {

namespace {

// Where the word being typed stands, as the words before it tell.
struct Place {
  const CLI::App* level = nullptr;
  const CLI::Option* awaitingValue = nullptr;
  bool helpFor = false;                // after `help`: command names only
  bool onlyArguments = false;          // after `--`
  std::vector<std::string> arguments;  // positional arguments of `level` so far
  std::string home;                    // as given to --home, "" when it was not
};

// What an argument names on the device, when it does.
enum class DeviceData { none, key, valueName, pimItem };

struct Group {
  std::string tag;
  std::string heading;
  std::vector<std::string> words;
};

std::vector<const CLI::App*> visibleCommands(const CLI::App& level) {
  return level.get_subcommands([](const CLI::App* sub) {
    return !sub->get_group().empty() && !sub->get_name().empty();
  });
}

bool takesValue(const CLI::Option& option) {
  return option.nonpositional() && option.get_items_expected_max() > 0;
}

std::string described(const std::string& word, const std::string& description) {
  return description.empty() ? word : word + "\t" + description;
}

// A name as one line of the answer can carry it; a name with a line break or a tab cannot be
// offered (and is rare enough not to be missed).
bool fitsOnALine(const std::string& name) {
  return std::none_of(name.begin(), name.end(), [](char c) { return c == '\n' || c == '\t'; });
}

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

std::string commandPath(const CLI::App* level) {
  std::string path;
  for (const CLI::App* at = level; at; at = at->get_parent())
    path = at->get_name() + (path.empty() ? "" : " " + path);
  return path;
}

// Keys are named by their validator's type ("KEY"); the value name and the item id by the
// argument's name in the commands that take a key or work on one item.
DeviceData deviceDataOf(const CLI::Option& option, const CLI::App& level) {
  std::string type = option.get_type_name();
  if (type.size() >= 3 && type.compare(type.size() - 3, 3, "KEY") == 0) return DeviceData::key;
  if (!option.get_positional()) return DeviceData::none;
  const CLI::App* parent = level.get_parent();
  if (option.get_name() == "id" && parent && parent->get_name() == "pim")
    return DeviceData::pimItem;
  if (option.get_name() == "value" && parent && parent->get_name() == "reg")
    return DeviceData::valueName;
  return DeviceData::none;
}

// The keys one level below what `current` has typed up to its last '\', each spelt as typed
// so far and ending in '\'. Before any '\', the root's names and the keys below it.
std::vector<std::string> keyWords(const DeviceGlance& device, const std::string& current) {
  std::vector<std::string> words;
  size_t cut = current.rfind('\\');
  if (cut == std::string::npos) {
    words.push_back(startsWithIgnoringCase(current, "HKEY") ? "HKEY_LOCAL_MACHINE\\" : "HKLM\\");
    for (const auto& name : device.subkeys(L""))
      if (fitsOnALine(name)) words.push_back(name + "\\");
    return words;
  }
  std::string parent = current.substr(0, cut);
  if (!reg::keyArgumentProblem(parent).empty()) return words;
  for (const auto& name : device.subkeys(reg::keyPathOf(parent)))
    if (fitsOnALine(name)) words.push_back(parent + "\\" + name + "\\");
  return words;
}

Group deviceGroup(DeviceData data, const Place& place, const std::string& current) {
  DeviceGlance device(homeNamed(place.home.empty() ? requestedHome() : place.home));
  if (data == DeviceData::key) return {"keys", "registry key", keyWords(device, current)};
  if (data == DeviceData::valueName) {
    if (place.arguments.empty() || !reg::keyArgumentProblem(place.arguments[0]).empty())
      return {};
    std::wstring key = reg::keyPathOf(place.arguments[0]);
    Group group{"value-names", "value name in " + reg::keyDisplayName(key), {}};
    for (const auto& name : device.valueNames(key))
      if (!name.empty() && fitsOnALine(name)) group.words.push_back(name);
    return group;
  }
  Group group{"items", "PIM item id", {}};
  for (const auto& item : device.pimItems()) {
    const char* folder = item.folder == olFolderContacts   ? "contact"
                         : item.folder == olFolderCalendar ? "appointment"
                                                           : "task";
    group.words.push_back(described(std::to_string(item.oid),
                                    std::string(folder) + ": " + oneLine(item.subject, false)));
  }
  return group;
}

// What may stand as the value of `option`: the choices its check lists in its type
// ("TEXT:{sz,dword,...}"), a folder, a file, or what the device holds.
Group valuesOf(const CLI::Option& option, const Place& place, const std::string& current) {
  DeviceData data = deviceDataOf(option, *place.level);
  if (data != DeviceData::none) return deviceGroup(data, place, current);
  std::string type = option.get_type_name();
  if (type == "DIR") return {"dir", "", {}};
  if (type == "FILE" || option.get_name() == "file") return {"file", "", {}};
  std::string heading = option.get_positional() ? option.get_name() : "value of " +
                                                                          option.get_name();
  std::transform(heading.begin(), heading.end(), heading.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  Group group{"values", heading, {}};
  size_t open = type.find('{');
  size_t close = type.rfind('}');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    std::string list = type.substr(open + 1, close - open - 1);
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
      end = list.find(',', start);
      group.words.push_back(list.substr(start, end == std::string::npos ? end : end - start));
    }
  }
  return group;
}

Group commandGroup(const CLI::App& level, std::vector<const CLI::App*> commands) {
  Group group{"commands", level.get_parent() ? "command of " + commandPath(&level) : "command",
              {}};
  for (const CLI::App* command : commands)
    group.words.push_back(described(command->get_name(), command->get_description()));
  return group;
}

Group optionGroup(const CLI::App& level) {
  Group group{"options", level.get_parent() ? "option of " + commandPath(&level) : "option", {}};
  for (const CLI::Option* option : level.get_options()) {
    if (option->get_group().empty() || !option->nonpositional()) continue;
    for (const auto& name : option->get_lnames())
      group.words.push_back(described("--" + name, option->get_description()));
    if (option->get_lnames().empty())
      for (const auto& name : option->get_snames())
        group.words.push_back(described("-" + name, option->get_description()));
  }
  return group;
}

Place placeAfter(const CLI::App& app, const std::vector<std::string>& before) {
  Place place;
  place.level = &app;
  for (const std::string& word : before) {
    if (place.awaitingValue) {
      if (place.level == &app && place.awaitingValue->check_lname("home")) place.home = word;
      place.awaitingValue = nullptr;
      continue;
    }
    if (!place.onlyArguments && word == "--") {
      place.onlyArguments = true;
      continue;
    }
    if (!place.onlyArguments && word.size() > 1 && word[0] == '-') {
      size_t equals = word.find('=');
      if (equals == std::string::npos) {
        const CLI::Option* option = place.level->get_option_no_throw(word);
        if (option && takesValue(*option)) place.awaitingValue = option;
      } else if (place.level == &app && word.compare(0, equals, "--home") == 0) {
        place.home = word.substr(equals + 1);
      }
      continue;
    }
    if (place.arguments.empty() && !place.onlyArguments) {
      if (place.level == &app && word == "help" && !place.helpFor) {
        place.helpFor = true;
        continue;
      }
      auto commands = visibleCommands(*place.level);
      auto chosen = std::find_if(commands.begin(), commands.end(),
                                 [&](const CLI::App* sub) { return sub->check_name(word); });
      if (chosen != commands.end()) {
        place.level = *chosen;
        continue;
      }
    }
    place.arguments.push_back(word);
  }
  return place;
}

Group groupAt(const Place& place, const std::string& current) {
  const CLI::App& level = *place.level;
  if (place.awaitingValue) return valuesOf(*place.awaitingValue, place, current);
  if (!place.onlyArguments && !current.empty() && current[0] == '-') return optionGroup(level);
  auto commands = visibleCommands(level);
  if (place.helpFor) {
    commands.erase(std::remove_if(commands.begin(), commands.end(),
                                  [](const CLI::App* sub) { return sub->get_name() == "help"; }),
                   commands.end());
    return place.arguments.empty() ? commandGroup(level, commands) : Group{};
  }
  if (!commands.empty()) return place.arguments.empty() ? commandGroup(level, commands) : Group{};
  auto positionals = level.get_options([](const CLI::Option* option) {
    return option->get_positional() && !option->get_group().empty();
  });
  size_t index = place.arguments.size();
  if (index < positionals.size()) return valuesOf(*positionals[index], place, current);
  if (!positionals.empty() && positionals.back()->get_items_expected_max() > 1)
    return valuesOf(*positionals.back(), place, current);
  return {};
}

}  // namespace

std::vector<std::string> completions(const CLI::App& app, const std::vector<std::string>& before,
                                     const std::string& current) {
  Group group = groupAt(placeAfter(app, before), current);
  if (group.tag == "dir" || group.tag == "file") return {":" + group.tag};
  if (group.words.empty()) return {};
  std::vector<std::string> lines{":" + group.tag + "\t" + group.heading};
  lines.insert(lines.end(), group.words.begin(), group.words.end());
  return lines;
}

}  // namespace cedevice
