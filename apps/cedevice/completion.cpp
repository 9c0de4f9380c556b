#include "apps/cedevice/completion.h"

#include <algorithm>

namespace cedevice {

namespace {

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

// What may stand as the value of `option`: the choices its check lists in its type
// ("TEXT:{sz,dword,...}"), or a folder, a file, or a registry key.
std::vector<std::string> valuesOf(const CLI::Option& option) {
  std::string type = option.get_type_name();
  size_t open = type.find('{');
  size_t close = type.rfind('}');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    std::vector<std::string> choices;
    std::string list = type.substr(open + 1, close - open - 1);
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
      end = list.find(',', start);
      choices.push_back(list.substr(start, end == std::string::npos ? end : end - start));
    }
    return choices;
  }
  if (type == "DIR") return {":dir"};
  if (type == "FILE" || option.get_name() == "file") return {":file"};
  // The key a person changes most: the client's settings, below which the rest lies.
  if (type.size() >= 3 && type.compare(type.size() - 3, 3, "KEY") == 0)
    return {"HKLM\\Software\\Quillbex\\SyncclientPIM"};
  return {};
}

std::vector<std::string> commandLines(const std::vector<const CLI::App*>& commands) {
  std::vector<std::string> lines;
  for (const CLI::App* command : commands)
    lines.push_back(described(command->get_name(), command->get_description()));
  return lines;
}

std::vector<std::string> optionLines(const CLI::App& level) {
  std::vector<std::string> lines;
  for (const CLI::Option* option : level.get_options()) {
    if (option->get_group().empty() || !option->nonpositional()) continue;
    for (const auto& name : option->get_lnames())
      lines.push_back(described("--" + name, option->get_description()));
    if (option->get_lnames().empty())
      for (const auto& name : option->get_snames())
        lines.push_back(described("-" + name, option->get_description()));
  }
  return lines;
}

}  // namespace

std::vector<std::string> completions(const CLI::App& app, const std::vector<std::string>& before,
                                     const std::string& current) {
  const CLI::App* level = &app;
  const CLI::Option* awaitingValue = nullptr;
  bool helpFor = false;        // after `help`: command names only
  bool onlyArguments = false;  // after `--`
  size_t arguments = 0;        // positional arguments of `level` so far
  for (const std::string& word : before) {
    if (awaitingValue) {
      awaitingValue = nullptr;
      continue;
    }
    if (!onlyArguments && word == "--") {
      onlyArguments = true;
      continue;
    }
    if (!onlyArguments && word.size() > 1 && word[0] == '-') {
      const CLI::Option* option =
          word.find('=') == std::string::npos ? level->get_option_no_throw(word) : nullptr;
      if (option && takesValue(*option)) awaitingValue = option;
      continue;
    }
    if (arguments == 0 && !onlyArguments) {
      if (level == &app && word == "help" && !helpFor) {
        helpFor = true;
        continue;
      }
      auto commands = visibleCommands(*level);
      auto chosen = std::find_if(commands.begin(), commands.end(),
                                 [&](const CLI::App* sub) { return sub->check_name(word); });
      if (chosen != commands.end()) {
        level = *chosen;
        continue;
      }
    }
    ++arguments;
  }

  if (awaitingValue) return valuesOf(*awaitingValue);
  if (!onlyArguments && !current.empty() && current[0] == '-') return optionLines(*level);
  auto commands = visibleCommands(*level);
  if (helpFor) {
    commands.erase(std::remove_if(commands.begin(), commands.end(),
                                  [](const CLI::App* sub) { return sub->get_name() == "help"; }),
                   commands.end());
    return arguments == 0 ? commandLines(commands) : std::vector<std::string>{};
  }
  if (!commands.empty())
    return arguments == 0 ? commandLines(commands) : std::vector<std::string>{};
  auto positionals = level->get_options([](const CLI::Option* option) {
    return option->get_positional() && !option->get_group().empty();
  });
  if (arguments < positionals.size()) return valuesOf(*positionals[arguments]);
  if (!positionals.empty() && positionals.back()->get_items_expected_max() > 1)
    return valuesOf(*positionals.back());
  return {};
}

}  // namespace cedevice
