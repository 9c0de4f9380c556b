#include "apps/cedevice/command_docs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "apps/cedevice/command.h"
#include "apps/cedevice/usage_errors.h"

namespace cedevice {

namespace {

struct OptionDoc {
  std::string names;  // "-n, --lines N"
  std::string text;
};

struct CommandDoc {
  std::string path;  // "cedevice reg set"
  std::string usage;
  std::string summary;
  std::string details;
  std::vector<OptionDoc> options;
};

std::string trimmed(std::string text) {
  size_t begin = text.find_first_not_of(" \n");
  size_t end = text.find_last_not_of(" \n");
  return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

// "-n, --lines N", "--follow", "key"
std::string optionNames(const CLI::Option& option) {
  std::string listed = option.get_positional() ? option.get_name(true)
                                               : option.get_name(false, true);
  std::string names;
  for (char c : listed) {
    names += c;
    if (c == ',') names += ' ';
  }
  if (option.nonpositional() && option.get_items_expected_max() > 0)
    names.append(" ").append(option.get_type_name());
  return names;
}

std::vector<OptionDoc> optionsOf(const CLI::App& command) {
  std::vector<OptionDoc> options;
  for (const CLI::Option* option : command.get_options()) {
    if (option->get_group().empty() || option->check_name("--help")) continue;
    options.push_back({optionNames(*option), option->get_description()});
  }
  return options;
}

void collect(const CLI::App& command, const std::string& path, std::vector<CommandDoc>& out) {
  CLI::Formatter formatter;
  std::string usage = trimmed(formatter.make_usage(&command, path));
  if (usage.rfind("Usage: ", 0) == 0) usage.erase(0, 7);
  out.push_back({path, usage, command.get_description(), trimmed(command.get_footer()),
                 optionsOf(command)});
  for (const CLI::App* sub : command.get_subcommands({}))
    if (!sub->get_group().empty() && !sub->get_name().empty())
      collect(*sub, path + " " + sub->get_name(), out);
}

std::vector<std::string> paragraphsOf(const std::string& text) {
  std::vector<std::string> paragraphs;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\n\n", start);
    if (end == std::string::npos) end = text.size();
    std::string paragraph = text.substr(start, end - start);
    if (!trimmed(paragraph).empty()) paragraphs.push_back(paragraph);
    start = end + 2;
  }
  return paragraphs;
}

bool isLiteral(const std::string& paragraph) {
  std::istringstream lines(paragraph);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("  ", 0) != 0) return false;
  return true;
}

// roff: a backslash starts an escape, and a '.' or '\'' at a line start a request.
std::string roffText(const std::string& text, bool inlineCode) {
  std::string out;
  bool code = false;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    lineStart = c == '\n';
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else if (c == '`' && inlineCode) {
      out += code ? "\\fR" : "\\fB";
      code = !code;
    } else out += c;
  }
  return out;
}

// Right below a heading a paragraph needs no .PP of its own (mandoc warns of one).
void roffParagraphs(std::ostringstream& out, const std::string& text, bool belowHeading = false) {
  bool first = true;
  for (const auto& paragraph : paragraphsOf(text)) {
    if (!(first && belowHeading)) out << ".PP\n";
    first = false;
    if (isLiteral(paragraph)) out << ".nf\n" << roffText(paragraph, false) << "\n.fi\n";
    else out << roffText(trimmed(paragraph), true) << "\n";
  }
}

void markdownParagraphs(std::vector<std::string>& blocks, const std::string& text) {
  for (const auto& paragraph : paragraphsOf(text))
    blocks.push_back(isLiteral(paragraph) ? "```\n" + paragraph + "\n```" : trimmed(paragraph));
}

void markdownOptions(std::vector<std::string>& blocks, const std::vector<OptionDoc>& options) {
  std::string list;
  for (const auto& option : options) list += "- `" + option.names + "`: " + option.text + "\n";
  if (!list.empty()) blocks.push_back(trimmed(list));
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Every variable an option of `command` or its subcommands reads (CE_DEVICE_HOME for --home).
void optionVariables(const CLI::App& command, std::vector<NamedText>& out) {
  for (const CLI::Option* option : command.get_options())
    if (!option->get_envname().empty())
      out.push_back({option->get_envname(),
                     "Stands for `" + optionNames(*option) + "` when that option is not given."});
  for (const CLI::App* sub : command.get_subcommands({})) optionVariables(*sub, out);
}

// The variables options read, with what the texts add, then those the texts name alone.
std::vector<NamedText> environmentOf(const CLI::App& app, const ReferenceTexts& texts) {
  std::vector<NamedText> entries;
  optionVariables(app, entries);
  for (const NamedText& variable : texts.environment) {
    auto known = std::find_if(entries.begin(), entries.end(),
                              [&](const NamedText& e) { return e.name == variable.name; });
    if (known != entries.end()) known->text += " " + variable.text;
    else entries.push_back(variable);
  }
  return entries;
}

void roffList(std::ostringstream& out, const std::vector<NamedText>& entries) {
  for (const NamedText& entry : entries)
    out << ".TP\n.B " << roffText(entry.name, false) << "\n" << roffText(entry.text, true) << "\n";
}

void markdownList(std::vector<std::string>& blocks, const std::vector<NamedText>& entries) {
  std::string list;
  for (const NamedText& entry : entries) list += "- `" + entry.name + "`: " + entry.text + "\n";
  if (!list.empty()) blocks.push_back(trimmed(list));
}

}  // namespace

std::string manualPage(const CLI::App& app, const ReferenceTexts& texts, const ManualFacts& facts) {
  std::vector<CommandDoc> commands;
  collect(app, app.get_name(), commands);
  std::ostringstream out;
  out << ".TH " << upper(app.get_name()) << " 1 \"" << facts.date << "\" \"" << app.get_name()
      << " " << facts.version << "\" \"User Commands\"\n";
  out << ".SH NAME\n" << app.get_name() << " \\- " << roffText(commands[0].summary, false) << "\n";
  out << ".SH SYNOPSIS\n.B " << roffText(commands[0].usage, false) << "\n";
  out << ".SH DESCRIPTION\n";
  roffParagraphs(out, texts.overview, true);
  out << ".SH OPTIONS\n";
  for (const auto& option : commands[0].options)
    out << ".TP\n.B " << roffText(option.names, false) << "\n" << roffText(option.text, true) << "\n";
  out << ".SH COMMANDS\n";
  for (size_t i = 1; i < commands.size(); ++i) {
    const CommandDoc& command = commands[i];
    out << ".SS \"" << roffText(command.path, false) << "\"\n";
    out << ".B " << roffText(command.usage, false) << "\n";
    out << ".PP\n" << roffText(command.summary, true) << "\n";
    roffParagraphs(out, command.details);
    for (const auto& option : command.options)
      out << ".TP\n.B " << roffText(option.names, false) << "\n" << roffText(option.text, true)
          << "\n";
  }
  out << ".SH \"EXIT STATUS\"\n";
  roffList(out, texts.exitStatus);
  out << ".SH ENVIRONMENT\n";
  roffList(out, environmentOf(app, texts));
  out << ".SH FILES\n";
  roffList(out, texts.files);
  roffList(out, {{facts.helperDir + "/notlstnr", "The listener, which `boot` starts."},
                 {facts.helperDir + "/startsync",
                  "The launcher, which `init` copies into the device."},
                 {facts.docDir + "/", "README.md and docs/: the documentation; docs/cedevice.md "
                                      "is this page in Markdown."}});
  out << ".SH EXAMPLES\n";
  roffParagraphs(out, texts.examples, true);
  out << ".SH \"SEE ALSO\"\n"
      << ".BR notlstnr (8),\n.BR startsync (8),\n.BR systemctl (1),\n.BR systemd-escape (1),\n"
      << ".BR sqlite3 (1)\n"
      << ".PP\n" << roffText("In " + facts.docDir + "/: README.md, the project; docs/device.md, "
                              "the device home, the registry settings and how the platform "
                              "behaves; docs/code-pages.md, the code pages the device converts.",
                              false)
      << "\n";
  return out.str();
}

std::string markdownPage(const CLI::App& app, const ReferenceTexts& texts) {
  std::vector<CommandDoc> commands;
  collect(app, app.get_name(), commands);
  std::vector<std::string> blocks;
  blocks.push_back("# " + app.get_name());
  blocks.push_back("<!-- Written by `make docs` from the tool's own command definitions, which "
                   "--help and the manual page show too: change those, not this file. -->");
  blocks.push_back(commands[0].summary);
  blocks.push_back("`" + commands[0].usage + "`");
  markdownParagraphs(blocks, texts.overview);
  markdownOptions(blocks, commands[0].options);
  blocks.push_back("## Commands");
  for (size_t i = 1; i < commands.size(); ++i) {
    const CommandDoc& command = commands[i];
    blocks.push_back("### " + command.path);
    blocks.push_back("`" + command.usage + "`");
    blocks.push_back(command.summary);
    markdownParagraphs(blocks, command.details);
    markdownOptions(blocks, command.options);
  }
  blocks.push_back("## Exit status");
  markdownList(blocks, texts.exitStatus);
  blocks.push_back("## Environment");
  markdownList(blocks, environmentOf(app, texts));
  blocks.push_back("## Files");
  markdownList(blocks, texts.files);
  blocks.push_back("## Examples");
  markdownParagraphs(blocks, texts.examples);
  std::string text;
  for (const auto& block : blocks) text += block + "\n\n";
  text.pop_back();
  return text;
}

void dropInheritedDetails(CLI::App& app) {
  std::string own = app.get_footer();
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    dropInheritedDetails(*sub);
    if (sub->get_footer() == own) sub->footer("");
  }
}

void addDocsCommand(CLI::App& app, const ReferenceTexts& texts, const std::string& version) {
  auto* docs = app.add_subcommand("docs", "Write the manual page or the Markdown reference");
  docs->group("");
  auto format = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  auto facts = std::make_shared<ManualFacts>(
      ManualFacts{version, "", "/usr/libexec/cedevice", "/usr/share/doc/cedevice"});
  docs->add_option("format", *format, "man or markdown")
      ->required()
      ->check(oneOf({"man", "markdown"}));
  docs->add_option("-o,--output", *output, "The file to write (default: standard output)");
  docs->add_option("--date", facts->date, "The release's date, for the manual page");
  docs->add_option("--helper-dir", facts->helperDir, "Where notlstnr and startsync are installed");
  docs->add_option("--doc-dir", facts->docDir, "Where README.md and docs/ are installed");
  CLI::App* root = &app;
  docs->callback([root, &texts, format, output, facts] {
    std::string text =
        *format == "man" ? manualPage(*root, texts, *facts) : markdownPage(*root, texts);
    if (output->empty()) {
      std::fputs(text.c_str(), stdout);
      return;
    }
    std::ofstream out(*output, std::ios::binary | std::ios::trunc);
    if (!out) throw Failure("cannot open " + *output + ": " + std::strerror(errno));
    out << text;
    out.close();
    if (!out) throw Failure("cannot write " + *output);
  });
}

}  // namespace cedevice
