// winLog: the log that appends one time-stamped line per message to a file on the device.
#pragma once

#include <cstdarg>

#include "textcore/log.h"

// Every winLog shares one directory, file name, path and mutex name: setting them on one
// object sets them for all, and for sharedLog().
class winLog : public Log {
 public:
  // Takes dir and name as setDirectory and setFileName do. Only with a directory does it touch
  // the file: it makes sure the file can be opened for appending (a message box says so when
  // it cannot) and, with resetLog, empties it and writes the header.
  winLog(bool resetLog = false, const char* dir = nullptr, const char* name = nullptr);
  ~winLog() override;

  // null: "."; the path is "<dir>\<file name>"
  void setDirectory(const char* dir) override;
  // null: "synclog.txt", and the name of the mutex stays as it was
  void setFileName(const char* name) override;
  void reset(const char* title) override;

  void error(const char* format, ...) override __attribute__((format(gnu_printf, 2, 3)));
  void info(const char* format, ...) override __attribute__((format(gnu_printf, 2, 3)));
  void debugAtInfo(const char* format, ...) override __attribute__((format(gnu_printf, 2, 3)));
  void debug(const char* format, ...) override __attribute__((format(gnu_printf, 2, 3)));

  // bytes in the file, 0 when it cannot be opened
  long getFileSize() override;

  // The shared settings as they stand, for tools and tests.
  static const char* currentDirectory();
  static const char* currentFileName();
  static const char* currentPath();        // a device path
  static const wchar_t* currentMutexName();  // the name the exclusion really uses

 private:
  // threshold 0: always written
  void write(int threshold, const char* tag, const char* format, va_list args);
};
