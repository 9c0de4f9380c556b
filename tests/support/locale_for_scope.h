// The C library's locale, set for one scope. It is process-wide: the tests of one binary run one
// at a time.
#pragma once

#include <clocale>
#include <string>

namespace ce::test {

class LocaleForScope {
 public:
  explicit LocaleForScope(const char* name) : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    std::setlocale(LC_CTYPE, name);
  }
  ~LocaleForScope() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  LocaleForScope(const LocaleForScope&) = delete;
  LocaleForScope& operator=(const LocaleForScope&) = delete;

 private:
  std::string saved_;
};

}  // namespace ce::test
