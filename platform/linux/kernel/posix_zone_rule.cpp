// Reading the zone database's own rule text, so that a log stamp needs no calendar library:
// the device's yearly form (month, weekday, week in the month with 5 the last, the wall time
// before the change) is the POSIX "Mm.w.d/time" form nearly field for field.
#include "platform/linux/kernel/posix_zone_rule.h"

#include <cctype>

namespace ce::kernel {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool done() const { return at_ == text_.size(); }
  bool take(char c) {
    if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
    return false;
  }
  // A zone abbreviation: three or more letters, or anything but '>' between '<' and '>'.
  bool name() {
    size_t start = at_;
    if (take('<')) {
      while (at_ < text_.size() && text_[at_] != '>') ++at_;
      return at_ - start >= 4 && take('>');
    }
    while (at_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[at_]))) ++at_;
    return at_ - start >= 3;
  }
  // Digits, at most `limit` in value; nothing when there are none.
  std::optional<long> number(long limit) {
    long value = 0;
    size_t start = at_;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
      value = value * 10 + (text_[at_++] - '0');
      if (value > limit) return std::nullopt;
    }
    if (at_ == start) return std::nullopt;
    return value;
  }
  // [+-]hh[:mm[:ss]] in seconds; `maxHours` is 24 for an offset and 167 for a change's time.
  std::optional<long> duration(long maxHours) {
    long sign = take('-') ? -1 : (take('+'), 1);
    auto hours = number(maxHours);
    if (!hours) return std::nullopt;
    long seconds = *hours * 3600;
    if (take(':')) {
      auto minutes = number(59);
      if (!minutes) return std::nullopt;
      seconds += *minutes * 60;
      if (take(':')) {
        auto secs = number(59);
        if (!secs) return std::nullopt;
        seconds += *secs;
      }
    }
    return sign * seconds;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Month and day of a zero-based day of the year.
void placeDayOfYear(int day, int year, SYSTEMTIME& t) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  for (; month < 11; ++month) {
    int length = days[month] + (month == 1 && isLeap(year) ? 1 : 0);
    if (day < length) break;
    day -= length;
  }
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month + 1);
  t.wDay = static_cast<WORD>(day + 1);
}

// "Mm.w.d[/time]", "Jn[/time]" or "n[/time]"; the time is the wall time before the change.
bool change(Reader& in, int year, SYSTEMTIME& t) {
  t = SYSTEMTIME{};
  if (in.take('M')) {
    auto month = in.number(12);
    if (!month || *month < 1 || !in.take('.')) return false;
    auto week = in.number(5);
    if (!week || *week < 1 || !in.take('.')) return false;
    auto weekday = in.number(6);
    if (!weekday) return false;
    t.wMonth = static_cast<WORD>(*month);
    t.wDay = static_cast<WORD>(*week);
    t.wDayOfWeek = static_cast<WORD>(*weekday);
  } else if (in.take('J')) {
    // 1 to 365, 29 February never counted
    auto day = in.number(365);
    if (!day || *day < 1) return false;
    int zeroBased = static_cast<int>(*day) - 1;
    if (isLeap(year) && zeroBased >= 59) ++zeroBased;
    placeDayOfYear(zeroBased, year, t);
  } else {
    auto day = in.number(365);
    if (!day) return false;
    placeDayOfYear(static_cast<int>(*day), year, t);
  }
  long seconds = 2 * 3600;
  if (in.take('/')) {
    auto time = in.duration(167);
    if (!time) return false;
    seconds = *time;
  }
  // The device's form holds a time of day only: a change given past midnight or before it
  // (zone database extensions) keeps its time of day.
  constexpr long day = 24L * 3600;
  seconds = ((seconds % day) + day) % day;
  t.wHour = static_cast<WORD>(seconds / 3600);
  t.wMinute = static_cast<WORD>(seconds / 60 % 60);
  t.wSecond = static_cast<WORD>(seconds % 60);
  return true;
}

}  // namespace

std::optional<PosixZoneRule> parsePosixZoneRule(std::string_view text, int year) {
  Reader in(text);
  PosixZoneRule rule;
  if (!in.name()) return std::nullopt;
  auto standard = in.duration(24);
  if (!standard) return std::nullopt;
  rule.bias = static_cast<LONG>(*standard / 60);
  if (in.done()) return rule;
  if (!in.name()) return std::nullopt;
  long daylightOffset = *standard - 3600;
  if (in.done()) return rule;  // a daylight name without its dates: nothing says when
  if (!in.take(',')) {
    auto offset = in.duration(24);
    if (!offset) return std::nullopt;
    daylightOffset = *offset;
    if (in.done()) return rule;
    if (!in.take(',')) return std::nullopt;
  }
  if (!change(in, year, rule.daylightDate) || !in.take(',') ||
      !change(in, year, rule.standardDate) || !in.done())
    return std::nullopt;
  rule.daylight = true;
  rule.daylightBias = static_cast<LONG>((daylightOffset - *standard) / 60);
  return rule;
}

std::optional<std::string> tzifFooter(std::string_view file) {
  // "TZif", then the version: '\0' for the first, which has no footer.
  if (file.size() < 6 || file.substr(0, 4) != "TZif" || file[4] == '\0' || file.back() != '\n')
    return std::nullopt;
  size_t start = file.rfind('\n', file.size() - 2);
  if (start == std::string_view::npos) return std::nullopt;
  return std::string(file.substr(start + 1, file.size() - start - 2));
}

}  // namespace ce::kernel
