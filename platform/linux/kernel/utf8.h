// UTF-8 <-> wide (UTF-32) codec shared by the code-page conversions and the file-name mapping.
// Platform-internal.
#pragma once

#include <cstddef>

namespace ce::utf8 {

// Bytes that are not valid UTF-8: fail, write U+FFFD for each invalid part as the device
// reads it (MultiByteToWideChar with flags 0), or carry each as U+DC80..U+DCFF (file names).
enum class InvalidBytes { fail, replace, escape };
// Wide characters that have no UTF-8 form (surrogates, > U+10FFFF): fail, write U+FFFD, or
// turn U+DC80..U+DCFF back into their byte (file names; other surrogates still fail).
enum class InvalidChars { fail, replace, unescape };

// Decodes `size` bytes. Returns the number of wide characters, or -1 on invalid input. Writes
// to `out` only while there is room (`capacity`); callers compare the result with it.
long toWide(const char* text, size_t size, wchar_t* out, size_t capacity, InvalidBytes mode);
// Encodes `size` wide characters; same conventions, counting bytes.
long fromWide(const wchar_t* text, size_t size, char* out, size_t capacity, InvalidChars mode);

}  // namespace ce::utf8
