// The window procedures of the Briefcase, Notes and Picture folder windows.
#pragma once

#include "platform/windows.h"

LRESULT CALLBACK BriefcaseWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK NotesWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PictureWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
