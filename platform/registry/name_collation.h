// How the store compares key paths and value names: without regard to case in all of Unicode,
// as the device does ("Ärger" is "ärger"), where SQLite's NOCASE folds ASCII only.
// Platform-internal.
#pragma once

#include <sqlite3.h>

namespace ce::registry {

// The collation's name in the schema.
inline constexpr const char* nameCollation = "REGISTRY_NOCASE";

// Registers the collation on `db`; every connection to a registry needs it before its first
// statement.
int registerNameCollation(sqlite3* db);

// <0, 0, >0 as `a` sorts before, equal to or after `b`: code point by code point after simple
// case folding, so that the order is total and a subtree is still one range. Bytes that are
// not UTF-8 (only a hand-edited store has them) sort after every character, by value.
int compareNames(const char* a, int aBytes, const char* b, int bBytes);

}  // namespace ce::registry
