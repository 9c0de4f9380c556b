#include "apps/cedevice/usage_errors.h"

#include <cctype>
#include <regex>
#include <vector>

#include "apps/cedevice/command_names.h"

namespace cedevice {

namespace {

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

std::string withNearest(const std::string& text, const std::string& word,
                        const std::vector<std::string>& names) {
  std::string nearest = nearestName(word, names);
  return nearest.empty() ? text : text + " (did you mean '" + nearest + "'?)";
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
    parts.push_back(text.substr(start, end - start));
  parts.push_back(text.substr(start));
  return parts;
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

}  // namespace

std::string usageMessage(const CLI::ParseError& error, const CLI::App& command) {
  // An unknown option comes first, whatever the parser found wrong first (with no command
  // given, that is the missing command).
  for (const CLI::App* level = &command; level; level = level->get_parent())
    for (const std::string& arg : level->remaining(false))
      if (looksLikeOption(arg)) {
        std::string name = arg.substr(0, arg.find('='));
        return withNearest("unknown option '" + name + "'" + forCommand(*level), name,
                           visibleOptionNames(*level));
      }

  const std::string what = error.what();
  const std::string where = forCommand(command);
  // A command that takes no more arguments hands the rest back to its parent.
  if (dynamic_cast<const CLI::ExtrasError*>(&error))
    for (const CLI::App* level = &command; level; level = level->get_parent())
      if (!level->remaining(false).empty())
        return "unexpected argument '" + level->remaining(false).front() + "'" + where;
  if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    if (what.rfind("A subcommand", 0) == 0) {
      std::vector<std::string> names;
      for (const CLI::App* sub : command.get_subcommands({}))
        if (!sub->get_group().empty()) names.push_back(sub->get_name());
      return "missing command" + where + ": " + joined(names);
    }
    std::string name = what.substr(0, what.rfind(" is required"));
    return (looksLikeOption(name) ? "missing option '" : "missing argument '") + name + "'" +
           where;
  }
  std::smatch match;
  // CLI::IsMember: "kind: note not in {contact,appointment,task}"
  static const std::regex notMember(R"((.+): (.*) not in \{(.*)\})");
  if (std::regex_match(what, match, notMember)) {
    std::vector<std::string> names = split(match[3], ',');
    std::string text = "invalid " + match[1].str() + " '" + match[2].str() + "'" + where;
    std::string nearest = nearestName(match[2], names);
    return text + (nearest.empty() ? " (use " + joined(names) + ")"
                                   : " (did you mean '" + nearest + "'?)");
  }
  // CLI::Range: "--lines: Value abc not in range 0 to 1000000"
  static const std::regex outOfRange(R"((.+): Value (.*) not in range (.+) to (.+))");
  if (std::regex_match(what, match, outOfRange))
    return "invalid " + match[1].str() + " '" + match[2].str() + "'" + where +
           " (a number from " + match[3].str() + " to " + match[4].str() + ")";
  // An option given without its value: "--home: 1 required DIR missing"
  static const std::regex noValue(R"((.+): \d+ required .* missing)");
  if (std::regex_match(what, match, noValue))
    return "missing value of '" + match[1].str() + "'" + where;
  static const std::regex notConverted(R"(Could not convert: (.+) = (.*))");
  if (std::regex_match(what, match, notConverted))
    return "invalid " + match[1].str() + " '" + match[2].str() + "'" + where;
  // Our own validators: "key: <why>"
  static const std::regex validator(R"(([^ :]+): (.+))");
  if (std::regex_match(what, match, validator))
    return "invalid " + match[1].str() + where + ": " + lowerFirst(match[2]);
  return lowerFirst(what);
}

}  // namespace cedevice
