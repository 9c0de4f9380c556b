// The in-process class table behind CoCreateInstance. Platform-internal: the families that
// serve COM classes register them here.
#pragma once

#include "platform/linux/com/com.h"

namespace ce::com {

// Makes a new object and queries it for `riid`; on failure *object stays null.
using ClassFactory = HRESULT (*)(REFIID riid, void** object);

// Registering a class twice keeps the first factory. Safe to call from static initialisers.
void registerClass(REFCLSID clsid, ClassFactory factory);

}  // namespace ce::com
