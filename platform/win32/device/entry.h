// The device's WinMain takes its command line as LPWSTR; desktop Windows declares an LPSTR
// one, which the device's would clash with. The device's entry point is therefore named
// CeWinMain here: the program's own main() (it has one on both platforms) calls it.
#pragma once

#define WinMain CeWinMain

int WINAPI CeWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                     int showCommand);
