#include "recording/client_push.h"

// Never freed: the process exit reclaims it.
ClientPush* ClientPush::instance = nullptr;

ClientPush* ClientPush::getInstance() {
  if (!instance) instance = new ClientPush;
  return instance;
}

void ClientPush::setFlag(unsigned flagNumber) {
  if (const DataSource* source = sourceByFlag(flagNumber)) sourceFlags[source->flagPosition] = 1;
}

void ClientPush::resetFlag(unsigned flagNumber) {
  if (flagNumber == allSourcesFlagNumber) {
    for (auto& flag : sourceFlags) flag = 0;
    return;
  }
  if (const DataSource* source = sourceByFlag(flagNumber)) sourceFlags[source->flagPosition] = 0;
}

HRESULT releasePoom(ClientPush* clientPush) {
  HRESULT result = E_FAIL;
  if (clientPush->outlookApp) {
    result = clientPush->outlookApp->Logoff();
    clientPush->outlookApp->Release();
    clientPush->outlookApp = nullptr;
  }
  CoUninitialize();
  return result;
}
