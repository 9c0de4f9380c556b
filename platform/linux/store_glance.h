// What the device's stores hold, read by a tool that must change nothing: the names a shell
// completion offers. Not a device API. Each call opens the store read-only, creates no file,
// runs no upgrade and takes no lock that holds off the device's writers; a store that is
// missing, another user's, a link, not ours or busy gives nothing rather than an error.
#pragma once

#include <string>
#include <vector>

#include "platform/pimstore.h"

namespace ce {

// The subkeys of the key at `keyPath` ('\'-separated below HKEY_LOCAL_MACHINE, "" for the
// root) in the registry store at `storeFile`, in the registry's order.
std::vector<std::wstring> glanceSubkeys(const std::string& storeFile, const std::wstring& keyPath);
// The value names of that key, in the order they enumerate ("" is the default value).
std::vector<std::wstring> glanceValueNames(const std::string& storeFile,
                                           const std::wstring& keyPath);
// The items of the PIM store at `storeFile`, in object-id order; their times are left zero.
std::vector<pim::Item> glancePimItems(const std::string& storeFile);

}  // namespace ce
