// --help as CLI11 lays it out, with every line wrapped to the width of the terminal it is read
// on: a description or footer line goes on below its own indentation, an option's or
// command's description below its column.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <string>

namespace cedevice {

// The columns of the terminal on standard output; 80 when it is not a terminal (a pipe, a
// file, a pager), so that what is written down reads the same everywhere.
std::size_t helpWidth();

// `text` with every line longer than `width` broken at spaces; the lines it goes on to keep
// the broken line's own indentation, or `indent` columns when given. A word longer than the
// line is left whole.
inline constexpr std::size_t ownIndent = static_cast<std::size_t>(-1);
std::string wrapped(const std::string& text, std::size_t width, std::size_t indent = ownIndent);

class HelpFormatter : public CLI::Formatter {
 public:
  explicit HelpFormatter(std::size_t width);

  std::string make_description(const CLI::App* app) const override;
  std::string make_usage(const CLI::App* app, std::string name) const override;
  std::string make_footer(const CLI::App* app) const override;
  std::string make_subcommand(const CLI::App* sub) const override;
  std::string make_option_desc(const CLI::Option* option) const override;

 private:
  // What is left right of the names' column (CLI11's 30 columns: `width_` is at least 50).
  std::size_t descriptionWidth() const;

  std::size_t width_;
};

}  // namespace cedevice
