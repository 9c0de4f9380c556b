// State of the COM family shared between its files. Platform-internal.
#pragma once

namespace ce::com {
// True while the calling thread has an unmatched CoInitializeEx.
bool threadInitialized();
}  // namespace ce::com
