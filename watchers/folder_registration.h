// Registration of the three watched folders with the shell's change notifications.
#pragma once

class ClientPush;

enum class WatchedFolder { briefcase, notes, picture };

// Looks the folder up through the client library and registers it for create, rename and
// delete notifications to its window. Always 0: a refusal is only logged.
int registerFolderNotification(ClientPush* clientPush, WatchedFolder folder);
