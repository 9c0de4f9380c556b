// Small text operations shared across the system: copy, case-insensitive equality and the
// file-extension test of the folder watchers.
#pragma once

class StringBuffer;

// a new array (array delete) with the first `length` bytes of text, or all of it for -1,
// padded with zeros past the end of text; null for a null text or a length below -1
char* duplicateString(const char* text, int length = -1);

// ASCII letters match in any case, every other byte exactly; false when either is null
bool textEqualsIgnoreCase(const char* a, const char* b);

// whether what follows the last "." of name is extension (no dot: false)
bool extensionMatches(const StringBuffer& name, const StringBuffer& extension, bool ignoreCase);
bool wideExtensionMatches(const wchar_t* name, const wchar_t* extension, bool ignoreCase);
