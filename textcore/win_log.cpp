// winLog: the shared file settings, the named-mutex exclusion and the line format.
//
// A message costs: the level test, one named-mutex creation (two flock calls), the clock, one
// open, one write and one close: five system calls where a bare append needs three. The line
// is built in memory (on the stack unless it is long) and handed to an unbuffered stream in
// one piece, which becomes that one write. The file is never kept open between messages,
// so every line is on storage when the call returns and another process may rename or delete
// the file at any time. The wide form of the path is worked out once per path change, not per
// line.
#include "textcore/win_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "textcore/string_buffer.h"
#include "textcore/conversions.h"
#include "textcore/line_format.h"
#include "textcore/timestamp.h"
#include "platform/windows.h"

namespace {

const char kDefaultFileName[] = "synclog.txt";
const char kDefaultTitle[] = "Quillbex Windows Mobile Client Log";
constexpr size_t kMutexNameChars = 128;     // 127 characters and the terminator
constexpr size_t kMessageBoxChars = 512;    // 511 characters and the terminator

// The settings every winLog shares. Made on first use and never destroyed, so a message
// written while the process exits still finds them.
struct LogFileState {
  StringBuffer directory{"\\"};
  StringBuffer fileName{kDefaultFileName};
  StringBuffer path{"\\"};
  // The last name given explicitly, cut to 127 characters; empty until one is given.
  wchar_t mutexName[kMutexNameChars] = {};
  // Set only while an operation has the file open.
  FILE* file = nullptr;
  // The wide path, made when first needed after each change of `path`; null when the path
  // cannot be converted.
  std::unique_ptr<wchar_t[]> widePath;
  bool widePathReady = false;
};

LogFileState& state() {
  static LogFileState* const shared = new LogFileState;
  return *shared;
}

// Narrow to wide as the device's "%S" does: UTF-8 here. Bytes that are not UTF-8 become one
// character each, so that no name is lost or merged with another.
std::wstring widen(const char* text) {
  size_t n = std::strlen(text);
  std::vector<wchar_t> wide(n + 1);
  if (n == 0 ||
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(),
                          static_cast<int>(n + 1)) != 0)
    return wide.data();
  std::wstring bytes;
  for (size_t i = 0; i < n; ++i) bytes += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
  return bytes;
}

void composePath() {
  LogFileState& st = state();
  st.path.sprintf("%s\\%s", st.directory.c_str(), st.fileName.c_str());
  st.widePath.reset();
  st.widePathReady = false;
}

// Converting may report an error through the log, which then opens this same path: the inner
// call finds the mutex taken (or converts again and fails the same way), so this never loops.
const wchar_t* widePath() {
  LogFileState& st = state();
  if (!st.widePathReady) {
    std::unique_ptr<wchar_t[]> converted(toWideChar(st.path.c_str()));
    st.widePath = std::move(converted);
    st.widePathReady = true;
  }
  return st.widePath.get();
}

// Always in binary mode: every line ends in "\n" alone, as the device writes it. A text-mode
// stream on Windows would end each in "\r\n", and the same log would differ by platform.
// Appends open for writing alone: nothing is read back, and a file opened only to be written
// is one the platform need not look at again after the open refused what is no file.
FILE* openLogFile(const wchar_t* mode) {
  const wchar_t* path = widePath();
  return path ? _wfopen(path, mode) : nullptr;
}

void closeLogFile() {
  LogFileState& st = state();
  if (st.file) std::fclose(st.file);
  st.file = nullptr;
}

long streamSize(FILE* file) {
  std::fseek(file, 0, SEEK_END);
  long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  return size;
}

void appendEntry(const char* tag, const char* format, va_list args) {
  LineText line;
  char stamp[64];
  line.append(stamp, std::strlen(formatTimestamp(stamp, sizeof stamp, false)));
  line.append(" [", 2);
  line.append(tag, std::strlen(tag));
  line.append("] - ", 4);
  appendFormatted(line, format, args);
  line.append('\n');
  LogFileState& st = state();
  st.file = openLogFile(L"ab");
  if (!st.file) return;
  // Unbuffered, the line goes out in one write whatever its length (no stdio buffer, and no
  // fstat to size one).
  std::setvbuf(st.file, nullptr, _IONBF, 0);
  std::fwrite(line.data(), 1, line.size(), st.file);
  closeLogFile();
}

void showCannotWrite(const char* path) {
  std::wstring text = L"Unable to write log file: \"" + widen(path) +
                      L"\".\nPlease check your user's permissions.";
  if (text.size() >= kMessageBoxChars) text.resize(kMessageBoxChars - 1);
  MessageBoxW(nullptr, text.c_str(), L"Quillbex", MB_OK | MB_SETFOREGROUND);
}

}  // namespace

winLog::winLog(bool resetLog, const char* dir, const char* name) {
  level = LogInfo;
  setDirectory(dir);
  setFileName(name);
  composePath();
  if (!dir) return;
  LogFileState& st = state();
  st.file = openLogFile(L"ab");
  if (!st.file) {
    showCannotWrite(st.path.c_str());
    return;
  }
  closeLogFile();
  if (resetLog) reset(kDefaultTitle);
}

winLog::~winLog() { closeLogFile(); }

void winLog::setDirectory(const char* dir) {
  LogFileState& st = state();
  st.directory.assign(dir ? dir : ".");
  if (st.fileName.length() > 0) composePath();
}

void winLog::setFileName(const char* name) {
  LogFileState& st = state();
  if (name) {
    st.fileName.assign(name);
    std::wstring wide = widen(name);
    size_t n = std::min(wide.size(), kMutexNameChars - 1);
    std::wmemcpy(st.mutexName, wide.data(), n);
    st.mutexName[n] = L'\0';
  } else {
    st.fileName.assign(kDefaultFileName);
  }
  composePath();
}

void winLog::reset(const char* title) {
  LogFileState& st = state();
  st.file = openLogFile(L"w+b");
  if (!st.file) return;
  char stamp[64];
  std::fprintf(st.file, "%s - # %s\n\n", formatTimestamp(stamp, sizeof stamp, true),
               title ? title : kDefaultTitle);
  closeLogFile();
}

long winLog::getFileSize() {
  LogFileState& st = state();
  st.file = openLogFile(L"rb");
  if (!st.file) return 0;
  long size = streamSize(st.file);
  closeLogFile();
  return size;
}

// The level is tested before the mutex is taken (the device takes it first): a message that
// is not written then costs no lock at all, and nothing else can tell the difference.
void winLog::write(int threshold, const char* tag, const char* format, va_list args) {
  if (threshold > 0 && !isEnabled(threshold)) return;
  // Writing a line must not change what the caller reads from GetLastError afterwards.
  DWORD callerError = GetLastError();
  HANDLE mutex = CreateMutexW(nullptr, TRUE, currentMutexName());
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // another writer, in this or another process, is in the middle of a line: drop this one
    if (mutex) CloseHandle(mutex);
  } else if (mutex) {
    appendEntry(tag, format ? format : "(null)", args);
    CloseHandle(mutex);
  }
  SetLastError(callerError);
}

void winLog::error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write(0, "ERROR", format, args);
  va_end(args);
}

void winLog::info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write(LogInfo, "INFO", format, args);
  va_end(args);
}

void winLog::debugAtInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write(LogInfo, "DEBUG", format, args);
  va_end(args);
}

void winLog::debug(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write(LogDebug, "DEBUG", format, args);
  va_end(args);
}

const char* winLog::currentDirectory() { return state().directory.c_str(); }
const char* winLog::currentFileName() { return state().fileName.c_str(); }
const char* winLog::currentPath() { return state().path.c_str(); }

// A log that was never given a name excludes its writers under the default file name.
const wchar_t* winLog::currentMutexName() {
  const wchar_t* name = state().mutexName;
  return *name ? name : L"synclog.txt";
}
