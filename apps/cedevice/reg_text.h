// The encodings a registry file meets: UTF-16LE inside hex(1)/hex(2)/hex(7) data and in
// version 5 files, UTF-8, and the ANSI code page 1252 of REGEDIT4 files.
#pragma once

#include <string>
#include <vector>

#include "platform/windows.h"

namespace cedevice::reg {

std::vector<BYTE> utf16leOf(const std::wstring& text);
// False for an odd byte count or a lone surrogate.
bool wideOfUtf16le(const BYTE* bytes, size_t size, std::wstring& text);

// UTF-16LE bytes appended to `out` as UTF-8, without a wide copy in between; false for an
// odd byte count or a lone surrogate.
bool appendUtf8OfUtf16le(const char* bytes, size_t size, std::string& out);

// A whole file's text as UTF-8: UTF-16LE after its BOM, UTF-8 (with or without a BOM), else
// code page 1252. `bytes` is consumed; the work needs at most about twice the file's size.
// False, with `problem` set, when the bytes are none of these.
bool fileTextAsUtf8(std::string&& bytes, std::string& text, std::string& problem);

// The text in code page 1252; false when a character has no byte there.
bool ansiOf(const std::wstring& text, std::string& ansi);

}  // namespace cedevice::reg
