// Recording a change in "clientPushList" and scheduling the launcher after it.
#pragma once

#include <cstdint>

class ClientPush;

// Marks the source in "clientPushList" and schedules the launcher, unless the source is
// suspended; an unknown sourceId writes the list back unchanged.
void setPIMModifications(ClientPush* clientPush, int32_t sourceId);
// Asks the platform to start the launcher pushInterval minutes from now; true when accepted.
bool scheduleNextSync(ClientPush* clientPush);
// Reads "path" and "clientPushInterval" once at start-up.
void loadPushConfig(ClientPush* clientPush);
