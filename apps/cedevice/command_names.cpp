#include "apps/cedevice/command_names.h"

#include <algorithm>

#include "apps/cedevice/usage_errors.h"

namespace cedevice {

namespace {

// Edits (insert, delete, replace, swap two neighbours) that turn `a` into `b`.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

bool takesValue(const CLI::App& level, const std::string& arg) {
  if (arg.find('=') != std::string::npos) return false;
  const CLI::Option* option = level.get_option_no_throw(arg);
  return option && option->get_items_expected_max() > 0;
}

std::vector<const CLI::App*> commandsOf(const CLI::App& level) {
  return level.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
}

bool knownOption(const CLI::App& level, const std::string& arg) {
  return level.get_option_no_throw(arg.substr(0, arg.find('='))) != nullptr;
}

// Walks the words that choose commands; calls `unknown(level, index, option)` at the first
// that chooses none, where `option` is the index of an option `level` does not know met on
// the way (args.size() when none), and returns the index where command words end.
template <typename OnUnknown>
size_t walkCommands(const CLI::App& app, const std::vector<std::string>& args, OnUnknown unknown) {
  const CLI::App* level = &app;
  size_t unknownOption = args.size();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") return i;
    if (arg.size() > 1 && arg[0] == '-') {
      if (unknownOption == args.size() && !knownOption(*level, arg)) unknownOption = i;
      if (takesValue(*level, arg)) ++i;
      continue;
    }
    auto commands = commandsOf(*level);
    if (commands.empty()) return i;  // arguments of the command from here on
    auto chosen = std::find_if(commands.begin(), commands.end(),
                               [&](const CLI::App* sub) { return sub->check_name(arg); });
    if (chosen == commands.end()) {
      unknown(*level, i, unknownOption);
      return i;
    }
    level = *chosen;
    unknownOption = args.size();
  }
  return args.size();
}

// "cedevice reg" for the command reg.
std::string commandPath(const CLI::App& app, const CLI::App& level) {
  std::string path = level.get_name();
  for (const CLI::App* at = &level; at != &app && at->get_parent();) {
    at = at->get_parent();
    path = at->get_name() + " " + path;
  }
  return path;
}

}  // namespace

std::string nearestName(const std::string& word, const std::vector<std::string>& names) {
  std::string best;
  size_t bestDistance = std::max<size_t>(2, word.size() / 3) + 1;
  for (const auto& name : names) {
    size_t distance = editDistance(word, name);
    if (name.rfind(word, 0) == 0 && word.size() >= 2) distance = std::min<size_t>(distance, 1);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = name;
    }
  }
  return best;
}

std::optional<UnknownCommand> unknownCommand(const CLI::App& app,
                                             const std::vector<std::string>& args) {
  std::optional<UnknownCommand> found;
  walkCommands(app, args, [&](const CLI::App& level, size_t index, size_t option) {
    std::string path = commandPath(app, level);
    // `--hme x status`: the word after a mistyped option is its value, not a command.
    if (option < args.size()) {
      found = UnknownCommand{unknownOptionMessage(level, args[option]), &level, path};
      return;
    }
    std::vector<std::string> visible;
    for (const CLI::App* sub : commandsOf(level))
      if (!sub->get_group().empty()) visible.push_back(sub->get_name());
    std::string text = "unknown command '" + args[index] + "'";
    if (&level != &app) text += " for '" + path + "'";
    std::string nearest = nearestName(args[index], visible);
    if (!nearest.empty()) text += " (did you mean '" + nearest + "'?)";
    found = UnknownCommand{text, &level, path};
  });
  return found;
}

size_t firstCommandWord(const CLI::App& app, const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") return args.size();
    if (args[i].size() > 1 && args[i][0] == '-') {
      if (takesValue(app, args[i])) ++i;
      continue;
    }
    return i;
  }
  return args.size();
}

}  // namespace cedevice
