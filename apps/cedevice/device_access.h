// What several device commands share: the device's files, the listener's windows, its
// helper programs, and the sources by name.
#pragma once

#include <string>
#include <vector>

#include "recording/data_sources.h"
#include "platform/windows.h"

namespace cedevice {

// Host path of one of the device tool's helpers ("notlstnr", "startsync"), installed or in
// the build tree.
std::string programPath(const std::string& name);

// Host path of a file below the device home's run/ folder.
std::string runFile(const std::string& name);
// Host path of the listener's log.
std::string listenerLogPath();

// The listener's main window, or null.
HWND findListenerWindow();
// Process id of the window's owner (from the handle: pid in the high bits).
int ownerOf(HWND window);

// The source of that name ("contacts", ...), or null.
const DataSource* sourceNamed(const std::string& name);
std::vector<std::string> sourceNames();
// Names of the sources whose bits are set, comma-separated ("none" when there are none).
std::string describeList(int list);

// The REG_SZ value of the client's settings key; false when absent. Throws Failure naming the
// registry's store when it cannot be read.
bool readClientSetting(const wchar_t* name, std::wstring& value);
void writeClientSetting(const wchar_t* name, const std::wstring& value);

// The one line that reports a failed call on a store of the device (a name of
// platform/stores.h): "system/registry.db: file is not a database" when the store itself
// cannot be read, else `otherwise`.
std::string storeFailure(const char* storeName, const std::string& otherwise);

// Text on one line whatever it holds: control bytes as \xNN (and backslashes doubled when
// `escapeBackslash`, so that the escapes stay unambiguous).
std::string oneLine(const std::string& text, bool escapeBackslash);

std::string narrow(const std::wstring& text);
std::wstring widen(const std::string& text);
// The whole file, "" when there is none; Failure naming it when it is not a regular file
// (a FIFO would block the reader) or cannot be read.
std::string readText(const std::string& hostPath);

}  // namespace cedevice
