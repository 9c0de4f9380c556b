#include "recording/data_sources.h"

// POOM sources carry the platform's default-folder identifiers; the folder sources' numbers
// are the folder windows' own. Flag number 6 and bit 0x01 belong to no source.
const DataSource dataSources[dataSourceCount] = {
    {"contacts", 10, 1, 0, 0x02},
    {"calendar", 9, 2, 1, 0x04},
    {"tasks", 13, 3, 2, 0x08},
    {"notes", 601, 4, 3, 0x10},
    {"briefcase", 600, 5, 4, 0x20},
    {"pictures", 604, 7, 5, 0x40},
};

const DataSource* sourceById(int sourceId) {
  for (const DataSource& source : dataSources)
    if (source.sourceId == sourceId) return &source;
  return nullptr;
}

const DataSource* sourceByFlag(unsigned flagNumber) {
  for (const DataSource& source : dataSources)
    if (source.flagNumber == flagNumber) return &source;
  return nullptr;
}
