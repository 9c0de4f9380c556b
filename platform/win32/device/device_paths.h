// Device paths on Windows. With %CE_DEVICE_HOME% set, the device's file system is the folder
// "fs" in it, as on Linux: a device path ("\My Documents\x", rooted, without a drive) names
// %CE_DEVICE_HOME%\fs\My Documents\x. Without it, or for a host path (a drive, a UNC name, a
// relative path), a path is the host's as it stands: the device is the whole machine.
#pragma once

#include <cstdio>
#include <string>

namespace ce::win32 {

std::wstring hostPathOf(const wchar_t* path);

}  // namespace ce::win32

// The calls of the device's programs that take a path, on the host path.
FILE* CeWfopen(const wchar_t* path, const wchar_t* mode);
DWORD CeGetFileAttributesW(LPCWSTR path);

#define _wfopen CeWfopen
#undef GetFileAttributes
#define GetFileAttributes CeGetFileAttributesW
#define GetFileAttributesW CeGetFileAttributesW
