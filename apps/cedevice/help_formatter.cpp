#include "apps/cedevice/help_formatter.h"

#include <algorithm>
#include <sstream>

#ifndef _WIN32
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace cedevice {

namespace {

// Narrower than this, the descriptions' column would hold a word or two a line.
constexpr std::size_t narrowest = 50;

// Broken only at its spaces, and only there: the runs of spaces that line up a literal
// paragraph's columns stay as they were written on each line kept.
std::string wrappedLine(std::string line, std::size_t width, std::size_t indent) {
  std::size_t own = line.find_first_not_of(' ');
  if (line.size() <= width || own == std::string::npos) return line;
  if (indent == ownIndent) indent = own;
  std::string out;
  while (line.size() > width) {
    std::size_t lead = line.find_first_not_of(' ');
    std::size_t cut = line.rfind(' ', width);
    // A word longer than the line is left whole, with the break after it.
    if (cut == std::string::npos || cut <= lead) cut = line.find(' ', width);
    std::size_t next = cut == std::string::npos ? cut : line.find_first_not_of(' ', cut);
    if (next == std::string::npos) break;
    out += line.substr(0, line.find_last_not_of(' ', cut) + 1) + "\n";
    line = std::string(indent, ' ') + line.substr(next);
  }
  return out + line;
}

// The longer texts are written with their prose broken near 90 columns (describe() in
// command.h). Lines that start at the margin are one paragraph's words, so they are joined
// before wrapping, or a narrower terminal would show a long line and a short one in turn; an
// indented line is laid out by hand and stays a line of its own.
std::string reflowed(const std::string& text) {
  std::string out;
  bool prose = false;  // the line before was text at the margin
  std::size_t start = 0;
  for (std::size_t end = 0; end != std::string::npos; start = end + 1) {
    end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    bool atMargin = !line.empty() && line.front() != ' ';
    if (start > 0) out += prose && atMargin ? " " : "\n";
    out += line;
    prose = atMargin;
  }
  return out;
}

}  // namespace

std::size_t helpWidth() {
#ifndef _WIN32
  winsize size{};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return std::max<std::size_t>(size.ws_col, narrowest);
#endif
  return 80;
}

std::string wrapped(const std::string& text, std::size_t width, std::size_t indent) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    out += wrappedLine(text.substr(start, end - start), width, indent) + "\n";
  return out + wrappedLine(text.substr(start), width, indent);
}

HelpFormatter::HelpFormatter(std::size_t width) : width_(std::max(width, narrowest)) {}

std::size_t HelpFormatter::descriptionWidth() const {
  return width_ - get_column_width();
}

std::string HelpFormatter::make_description(const CLI::App* app) const {
  return wrapped(CLI::Formatter::make_description(app), width_);
}

// Arguments that do not fit go on below the command's name.
std::string HelpFormatter::make_usage(const CLI::App* app, std::string name) const {
  std::string usage = CLI::Formatter::make_usage(app, name);
  std::size_t indent = get_label("Usage").size() + 2 + (name.empty() ? 0 : name.size() + 1);
  return wrapped(usage, width_, std::min(indent, width_ / 2));
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
  return wrapped(reflowed(CLI::Formatter::make_footer(app)), width_);
}

// CLI11 indents each line of a description to its column; it only needs breaking.
std::string HelpFormatter::make_subcommand(const CLI::App* sub) const {
  std::stringstream out;
  CLI::detail::format_help(out, sub->get_display_name(true),
                           wrapped(sub->get_description(), descriptionWidth(), 0),
                           get_column_width());
  return out.str();
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
  return wrapped(CLI::Formatter::make_option_desc(option), descriptionWidth(), 0);
}

}  // namespace cedevice
