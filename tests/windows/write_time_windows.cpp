// tests/support/write_time.h on Windows: the file's FILETIME itself, in 100 ns steps.
#include <windows.h>

#include <chrono>
#include <stdexcept>

#include "tests/support/write_time.h"

namespace ce::test {

namespace {

// 100 ns steps from 1601 to 1970.
constexpr long long kUnixEpochInFileTime = 116444736000000000LL;
using FileTimeSteps = std::chrono::duration<long long, std::ratio<1, 10000000>>;

std::wstring widePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

FILETIME fileTimeOf(std::filesystem::file_time_type time) {
  auto system = std::chrono::file_clock::to_sys(time);
  long long steps = std::chrono::duration_cast<FileTimeSteps>(system.time_since_epoch()).count() +
                    kUnixEpochInFileTime;
  return FILETIME{static_cast<DWORD>(steps), static_cast<DWORD>(steps >> 32)};
}

std::filesystem::file_time_type timeOf(const FILETIME& time) {
  long long steps = static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime)
                                            << 32) |
                                           time.dwLowDateTime) -
                    kUnixEpochInFileTime;
  std::chrono::sys_time<FileTimeSteps> system{FileTimeSteps(steps)};
  return std::chrono::file_clock::from_sys(
      std::chrono::time_point_cast<std::filesystem::file_time_type::duration>(system));
}

}  // namespace

std::filesystem::file_time_type lastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data))
    throw std::runtime_error("no write time of " + path);
  return timeOf(data.ftLastWriteTime);
}

void setLastWriteTime(const std::string& path, std::filesystem::file_time_type time) {
  HANDLE file = CreateFileW(widePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  FILETIME written = fileTimeOf(time);
  BOOL set = SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  if (!set) throw std::runtime_error("cannot set the write time of " + path);
}

}  // namespace ce::test
