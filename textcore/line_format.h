// The text of one log line, built in memory so that it reaches the file in one write.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Bytes of one line: on the stack up to its inline room, on the heap beyond.
class LineText {
 public:
  LineText() = default;
  LineText(const LineText&) = delete;
  LineText& operator=(const LineText&) = delete;

  void append(const char* bytes, size_t count);
  void append(char byte) { append(&byte, 1); }
  const char* data() const { return spilled_ ? heap_.data() : inline_; }
  size_t size() const { return spilled_ ? heap_.size() : size_; }

 private:
  char inline_[1024];
  size_t size_ = 0;
  bool spilled_ = false;
  std::string heap_;
};

// Appends `format` with its arguments as printf would (%S and %lc take wide text, printed as
// UTF-8), except that the texts given to %s, %S, %c and %lc have their control characters
// escaped (\n, \r, \t, \xHH, \u0085 ...) and wide characters that are not characters (lone
// surrogates, such as the stray bytes of a file name that is not UTF-8) print as U+FFFD; a
// surrogate pair is one character, whatever the width of wchar_t. A
// name can then never start a line of its own, while the format's own line breaks stay.
// %n writes nothing.
void appendFormatted(LineText& line, const char* format, va_list args);
