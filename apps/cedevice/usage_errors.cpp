#include "apps/cedevice/usage_errors.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "apps/cedevice/command_names.h"

namespace cedevice {

namespace {

// Between the value our validators quote and the hint that follows it, so that the command's
// name can go between the two.
constexpr char hintSeparator = '\t';

// "-5" is a number, as the parser reads it where there is no option -5.
bool looksLikeOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]));
}

std::string pathOf(const CLI::App& command) {
  std::string path = command.get_name();
  for (const CLI::App* up = command.get_parent(); up; up = up->get_parent())
    path = up->get_name() + " " + path;
  return path;
}

// " for 'cedevice reg set'", or nothing for the tool itself.
std::string forCommand(const CLI::App& command) {
  return command.get_parent() ? " for '" + pathOf(command) + "'" : "";
}

std::vector<std::string> visibleOptionNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    if (option->get_group().empty()) continue;
    for (const auto& name : option->get_lnames()) names.push_back("--" + name);
    for (const auto& name : option->get_snames()) names.push_back("-" + name);
  }
  return names;
}

// A one-letter option is too short to be a typing mistake of another: -V is not -h. Only the
// same letter in the other case, or a long option that starts with it, is offered.
std::string nearestOption(const std::string& word, const std::vector<std::string>& names) {
  if (word.size() != 2 || word[1] == '-') return nearestName(word, names);
  auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  for (const auto& name : names)
    if (name.size() == 2 && lower(name[1]) == lower(word[1])) return name;
  for (const auto& name : names)
    if (name.size() > 2 && name[1] == '-' && lower(name[2]) == lower(word[1])) return name;
  return "";
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i)
    text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
  return text;
}

// The parser's sentences start with a capital; ours do not (an all-capital word stays).
std::string lowerFirst(std::string text) {
  if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
      !std::isupper(static_cast<unsigned char>(text[1])))
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// The name an option is known by in messages: --lines, or a positional's own name (kind).
std::string nameOf(const CLI::Option& option) { return option.get_name(); }

// The option a parser error is about. The parser names it first in its message of an option's
// value ("<name>: ..."); the command and those above it are searched for that name.
std::optional<std::pair<const CLI::Option*, std::string>> optionAndDetail(
    const CLI::ParseError& error, const CLI::App& command) {
  const std::string what = error.what();
  for (const CLI::App* level = &command; level; level = level->get_parent())
    for (const CLI::Option* option : level->get_options()) {
      std::string prefix = nameOf(*option) + ": ";
      if (what.rfind(prefix, 0) == 0) return std::make_pair(option, what.substr(prefix.size()));
    }
  return std::nullopt;
}

std::optional<long long> wholeNumberIn(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || text[0] == '+')
    return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long number = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || !end || *end != '\0') return std::nullopt;
  return number;
}

std::string inQuotes(const std::string& value) { return "'" + value + "'"; }

}  // namespace

std::string unknownOptionMessage(const CLI::App& command, const std::string& arg) {
  std::string name = arg.substr(0, arg.find('='));
  std::string text = "unknown option " + inQuotes(name) + forCommand(command);
  std::string nearest = nearestOption(name, visibleOptionNames(command));
  return nearest.empty() ? text : text + " (did you mean " + inQuotes(nearest) + "?)";
}

CLI::Validator oneOf(std::vector<std::string> names) {
  return CLI::Validator(
      [names](std::string& value) -> std::string {
        for (const auto& name : names)
          if (value == name) return "";
        std::string nearest = nearestName(value, names);
        return inQuotes(value) + hintSeparator +
               (nearest.empty() ? "(use " + joined(names) + ")"
                                : "(did you mean " + inQuotes(nearest) + "?)");
      },
      // As the help shows the choices, and completion offers them: TEXT:{sz,dword,...}
      "{" + CLI::detail::join(names, ",") + "}", "one of");
}

CLI::Validator numberIn(long long lowest, long long highest) {
  return CLI::Validator(
      [lowest, highest](std::string& value) -> std::string {
        auto number = wholeNumberIn(value);
        if (number && *number >= lowest && *number <= highest) return "";
        return inQuotes(value) + hintSeparator + "(a number from " + std::to_string(lowest) +
               " to " + std::to_string(highest) + ")";
      },
      "", "number in");
}

CLI::Validator wholeNumber() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        return wholeNumberIn(value) ? "" : inQuotes(value) + hintSeparator;
      },
      "", "whole number");
}

std::string usageMessage(const CLI::ParseError& error, const CLI::App& command) {
  // An unknown option comes first, whatever the parser found wrong first (with no command
  // given, that is the missing command).
  for (const CLI::App* level = &command; level; level = level->get_parent())
    for (const std::string& arg : level->remaining(false))
      if (looksLikeOption(arg)) return unknownOptionMessage(*level, arg);

  const std::string where = forCommand(command);
  // A command that takes no more arguments hands the rest back to its parent.
  if (dynamic_cast<const CLI::ExtrasError*>(&error))
    for (const CLI::App* level = &command; level; level = level->get_parent())
      if (!level->remaining(false).empty())
        return "unexpected argument " + inQuotes(level->remaining(false).front()) + where;

  if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    for (const CLI::Option* option : command.get_options())
      if (option->get_required() && option->count() == 0)
        return (option->nonpositional() ? "missing option " : "missing argument ") +
               inQuotes(nameOf(*option)) + where;
    std::vector<std::string> names;
    for (const CLI::App* sub : command.get_subcommands({}))
      if (!sub->get_group().empty()) names.push_back(sub->get_name());
    if (command.get_require_subcommand_min() > 0 && command.get_subcommands().empty())
      return "missing command" + where + ": " + joined(names);
  }

  if (auto found = optionAndDetail(error, command)) {
    const auto& [option, detail] = *found;
    const std::string name = nameOf(*option);
    // Each of our options takes one value: a count that does not match is one given at the
    // end of the line, without it.
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) && option->nonpositional())
      return "missing value of " + inQuotes(name) + where;
    if (dynamic_cast<const CLI::ValidationError*>(&error)) {
      size_t cut = detail.find(hintSeparator);
      // Ours: "'value'<separator>(hint)"; a command's own validator says why in a sentence.
      if (cut != std::string::npos) {
        std::string hint = detail.substr(cut + 1);
        return "invalid " + name + " " + detail.substr(0, cut) + where +
               (hint.empty() ? "" : " " + hint);
      }
      return "invalid " + name + where + ": " + lowerFirst(detail);
    }
  }
  return lowerFirst(error.what());
}

}  // namespace cedevice
