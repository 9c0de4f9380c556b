// The six data sources whose changes the listener reports: the one table every use reads.
#pragma once

#include <cstddef>

struct DataSource {
  const char* name;     // as the device tool and the launcher print it
  int sourceId;         // passed to setPIMModifications
  unsigned flagNumber;  // used by the setFlag/resetFlag control commands
  int flagPosition;     // index in ClientPush::sourceFlags
  int bit;              // bit of "clientPushList"
};

inline constexpr size_t dataSourceCount = 6;
extern const DataSource dataSources[dataSourceCount];

// The source with that sourceId / flag number, or null.
const DataSource* sourceById(int sourceId);
const DataSource* sourceByFlag(unsigned flagNumber);

// Flag number of the command that clears every flag.
inline constexpr unsigned allSourcesFlagNumber = 100;
