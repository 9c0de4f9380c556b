// Log: the process-wide diagnostics interface, and sharedLog(), the instance every part of
// the system writes through. Formats are narrow printf formats; %S takes a wide string.
#pragma once

enum LogLevel : int {
  LogErrors = 0,  // error only
  LogInfo = 1,    // error, info, debugAtInfo
  LogDebug = 2,   // everything; higher levels behave like this one
};

class Log {
 public:
  virtual ~Log() {}

  virtual void setDirectory(const char* dir) = 0;
  virtual void setFileName(const char* name) = 0;
  // empties the log and writes its header; null title: the default one
  virtual void reset(const char* title) = 0;
  virtual void setLevel(int newLevel) { level = newLevel; }
  virtual int getLevel() { return level; }
  virtual bool isEnabled(int messageLevel) { return messageLevel <= level; }

  virtual void error(const char* format, ...) __attribute__((format(gnu_printf, 2, 3))) = 0;
  virtual void info(const char* format, ...) __attribute__((format(gnu_printf, 2, 3))) = 0;
  // tagged DEBUG but written from level 1 on
  virtual void debugAtInfo(const char* format, ...) __attribute__((format(gnu_printf, 2, 3))) = 0;
  virtual void debug(const char* format, ...) __attribute__((format(gnu_printf, 2, 3))) = 0;

  // a hook without a use yet; it does nothing
  virtual void reservedHook() {}
  virtual long getFileSize() = 0;

 protected:
  // The device leaves this unset until a subclass sets it; a defined start is safer.
  int level = LogInfo;
};

// The process-wide log, made on first use and never destroyed, so that it works up to the
// last instruction of the process.
Log* sharedLog();
