// Key paths and value names between the caller's wide text and the store's UTF-8 text.
// Platform-internal.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/wintypes.h"

namespace ce::registry {

// Splits `subKey` at '\' into UTF-8 names; null or "" gives none, one trailing '\' is ignored.
// ERROR_INVALID_PARAMETER for an empty name (a leading or doubled '\', or "\" alone), a name
// longer than 255 characters or a character that has no UTF-8 form.
LONG splitKeyPath(LPCWSTR subKey, std::vector<std::string>& names);

// A value name in UTF-8 (null is the default value ""), under the same rules as a key name
// except that '\' is allowed.
LONG valueNameOf(LPCWSTR name, std::string& utf8);

// "Software\Quillbex" + {"a/b"} -> "Software\Quillbex\a/b"; an empty base is the root.
std::string joinKeyPath(const std::string& base, const std::vector<std::string>& names);

// Names come back from the store as UTF-8; bytes that are not valid UTF-8 (only a hand-edited
// store has them) become U+DC80..U+DCFF rather than failing.
std::wstring wideNameOf(const std::string& utf8);

}  // namespace ce::registry
