// Registry: every call the listener, the client library and the device tool make
// (RegCreateKeyExW, RegOpenKeyExW, RegQueryInfoKeyW, RegEnumKeyExW, RegEnumValueW,
// RegQueryValueExW, RegSetValueExW, RegDeleteKeyW, RegDeleteValueW, RegFlushKey, RegCloseKey),
// with the edges a careful caller meets: outputs pre-filled with sentinels, exact codes,
// buffers one character short or exact, names at their length limits, case, every value type,
// entries added and removed during a walk. Everything happens below
// HKEY_LOCAL_MACHINE\Software\ConformanceRegistry, deleted at the start and at the end.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"

using conformance::answer;
using conformance::answerCode;
using conformance::answerText;
using conformance::chars;
using conformance::text;

namespace {

const WCHAR* const kRoot = L"Software\\ConformanceRegistry";
const HKEY kSentinelKey = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0xdeadbeef));
// what the text buffers are filled with before a call, so that what it wrote shows
const WCHAR kFill = L'*';
const unsigned char kByteFill = 0xab;

// a code point as the wide text of either build: a surrogate pair where WCHAR is 16 bits
std::wstring cp(unsigned long c, size_t times = 1) {
  std::wstring out;
  for (size_t i = 0; i < times; ++i) {
    if (sizeof(WCHAR) == 2 && c >= 0x10000) {
      out += static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<WCHAR>(c);
    }
  }
  return out;
}

const char* handleText(HKEY key) {
  if (!key) return "null";
  return key == kSentinelKey ? "untouched" : "handle";
}

HKEY create(HKEY parent, const std::wstring& name) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr);
  return rc == ERROR_SUCCESS ? key : nullptr;
}

// "<rc> disp=<disposition> <handle>" of one RegCreateKeyExW, its handle closed; "<rc> <handle>"
// when it is not asked for the disposition
std::string createResult(HKEY parent, const WCHAR* name, bool disposition = true) {
  HKEY key = kSentinelKey;
  DWORD made = conformance::kSentinel;
  LONG rc = RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            disposition ? &made : nullptr);
  char line[96];
  if (disposition)
    std::snprintf(line, sizeof line, "%ld disp=%lx %s", static_cast<long>(rc),
                  static_cast<unsigned long>(made), handleText(key));
  else
    std::snprintf(line, sizeof line, "%ld %s", static_cast<long>(rc), handleText(key));
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return line;
}

std::string openResult(HKEY parent, const WCHAR* name) {
  HKEY key = kSentinelKey;
  LONG rc = RegOpenKeyExW(parent, name, 0, KEY_READ, &key);
  char line[64];
  std::snprintf(line, sizeof line, "%ld %s", static_cast<long>(rc), handleText(key));
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return line;
}

// One step of a sequence on keys: RegCreateKeyExW ('c'), the same without asking for the
// disposition ('C'), or RegOpenKeyExW ('o') of `path` below the parent.
struct KeyStep {
  const char* check;
  char call;
  const WCHAR* path;
};

void runSteps(HKEY parent, std::initializer_list<KeyStep> steps) {
  for (const KeyStep& step : steps)
    answerText(step.check, step.call == 'o' ? openResult(parent, step.path)
                                            : createResult(parent, step.path, step.call == 'c'));
}

LONG setBytes(HKEY key, const WCHAR* name, DWORD type, const void* data, DWORD size) {
  return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG setText(HKEY key, const WCHAR* name, const std::wstring& value, DWORD type = REG_SZ) {
  return setBytes(key, name, type, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

LONG setDword(HKEY key, const WCHAR* name, DWORD number) {
  return setBytes(key, name, REG_DWORD, &number, sizeof number);
}

// removes a key with everything below it, one level at a time (desktop Windows deletes only
// keys without subkeys)
void deleteTree(HKEY parent, const WCHAR* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (;;) {
    WCHAR child[512];
    DWORD size = 512;
    if (RegEnumKeyExW(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    deleteTree(key, child);
  }
  RegCloseKey(key);
  RegDeleteKeyW(parent, name);
}

// one RegEnumKeyExW (or RegEnumValueW) by index: the name, or "<error>"
std::string entryAt(HKEY key, DWORD index, bool values, LONG* result = nullptr) {
  WCHAR name[300];
  DWORD size = 300;
  LONG rc = values ? RegEnumValueW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                   : RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  if (result) *result = rc;
  return rc == ERROR_SUCCESS ? text(name, size) : "<" + std::to_string(rc) + ">";
}
std::string subkeyAt(HKEY key, DWORD index) { return entryAt(key, index, false); }
std::string valueAt(HKEY key, DWORD index) { return entryAt(key, index, true); }

// the subkeys (or values) of `key` in enumeration order, comma-separated
std::string entryList(HKEY key, bool values) {
  std::string all;
  for (DWORD i = 0;; ++i) {
    LONG rc;
    std::string name = entryAt(key, i, values, &rc);
    if (rc == ERROR_NO_MORE_ITEMS) return all;
    if (rc != ERROR_SUCCESS) return all + name;
    all += (i ? "," : "") + name;
  }
}
std::string subkeyList(HKEY key) { return entryList(key, false); }
std::string valueList(HKEY key) { return entryList(key, true); }

void keyChecks(HKEY root) {
  // names at the limit, in characters of the device's 16-bit wide text; 127 characters beyond
  // the BMP are 254 units on the device: with one more, 255 fit and 256 do not
  const std::wstring longest(255, L'k'), tooLong = longest + L"k";
  const std::wstring twoLongest = L"Limits\\" + longest + L"\\" + longest;
  const std::wstring pairs255 = cp(0x1F600, 127) + L"x", pairs256 = cp(0x1F600, 128);
  runSteps(root, {
      {"RegCreateKeyExW new key", 'c', L"Alpha"},
      {"RegCreateKeyExW existing key", 'c', L"Alpha"},
      {"RegCreateKeyExW existing key other case", 'c', L"aLPHA"},
      {"RegCreateKeyExW nested path", 'c', L"Nest\\Deeper\\Deepest"},
      {"RegOpenKeyExW middle of created path", 'o', L"Nest\\Deeper"},
      {"RegCreateKeyExW empty subkey", 'C', L""},
      {"RegCreateKeyExW slash is a character", 'c', L"a/b"},
      {"RegOpenKeyExW slash not a separator", 'o', L"a"},
      {"RegCreateKeyExW leading backslash", 'c', L"\\Lead"},
      {"RegCreateKeyExW backslash alone", 'c', L"\\"},
      {"RegCreateKeyExW one trailing backslash", 'c', L"Trail1\\"},
      {"RegCreateKeyExW two trailing backslashes", 'c', L"Trail2\\\\"},
      {"RegOpenKeyExW key made with trailing backslashes", 'o', L"Trail2"},
      {"RegCreateKeyExW doubled inner backslash", 'c', L"Double\\\\Inner"},
      {"RegOpenKeyExW doubled inner backslash", 'o', L"Double\\\\Inner"},
      {"RegOpenKeyExW single inner backslash after doubled create", 'o', L"Double\\Inner"},
      {"RegCreateKeyExW name of 255", 'c', longest.c_str()},
      {"RegCreateKeyExW name of 256", 'c', tooLong.c_str()},
      {"RegOpenKeyExW name of 256", 'o', tooLong.c_str()},
      {"RegCreateKeyExW path of two 255 names", 'c', twoLongest.c_str()},
      {"RegCreateKeyExW 255 units with pairs", 'c', pairs255.c_str()},
      {"RegCreateKeyExW 256 units with pairs", 'c', pairs256.c_str()},
      {"RegOpenKeyExW missing key", 'o', L"Missing"},
      {"RegOpenKeyExW missing middle", 'o', L"Missing\\Alpha"},
      {"RegOpenKeyExW other case", 'o', L"ALPHA"},
      {"RegOpenKeyExW empty subkey", 'o', L""},
      {"RegOpenKeyExW null subkey", 'o', nullptr},
      {"RegOpenKeyExW leading backslash", 'o', L"\\Alpha"},
      {"RegOpenKeyExW one trailing backslash", 'o', L"Alpha\\"},
      {"RegOpenKeyExW two trailing backslashes", 'o', L"Alpha\\\\"},
  });
  // a relative path from an open key reaches what the full path reaches
  HKEY nest = create(root, L"Nest");
  runSteps(nest, {{"RegOpenKeyExW relative to an open key", 'o', L"deeper\\DEEPEST"}});
  RegCloseKey(nest);
}

void handleChecks(HKEY root) {
  HKEY key = create(root, L"Handles");
  answerCode("RegFlushKey open key", RegFlushKey(key));
  answerCode("RegFlushKey HKEY_LOCAL_MACHINE", RegFlushKey(HKEY_LOCAL_MACHINE));
  answerCode("RegCloseKey open key", RegCloseKey(key));
  answerCode("RegCloseKey closed key", RegCloseKey(key));
  answerCode("RegCloseKey null", RegCloseKey(nullptr));
  answerCode("RegFlushKey closed key", RegFlushKey(key));
  runSteps(key, {{"RegOpenKeyExW from closed key", 'o', L"x"},
                 {"RegCreateKeyExW from closed key", 'c', L"x"}});
  DWORD size = 0;
  answerCode("RegQueryValueExW on closed key",
             RegQueryValueExW(key, L"x", nullptr, nullptr, nullptr, &size));
  answerCode("RegSetValueExW on closed key", setDword(key, L"x", 1));
  DWORD subKeys = conformance::kSentinel;
  LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
  answer("RegQueryInfoKeyW on closed key", "%ld subkeys=%lx", static_cast<long>(rc),
         static_cast<unsigned long>(subKeys));
  answerText("RegEnumKeyExW on closed key", subkeyAt(key, 0));
  answerText("RegEnumValueW on closed key", valueAt(key, 0));
  answerCode("RegDeleteKeyW from closed key", RegDeleteKeyW(key, L"x"));
  answerCode("RegDeleteValueW on closed key", RegDeleteValueW(key, L"x"));

  // a handle outlives its key
  HKEY doomed = create(root, L"Doomed");
  setDword(doomed, L"v", 1);
  answerCode("RegDeleteKeyW key with open handle", RegDeleteKeyW(root, L"Doomed"));
  answerCode("RegSetValueExW on deleted key", setDword(doomed, L"v", 2));
  size = conformance::kSentinel;
  answerCode("RegQueryValueExW on deleted key",
             RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size));
  runSteps(doomed, {{"RegCreateKeyExW below deleted key", 'c', L"x"}});
  answerText("RegEnumValueW on deleted key", valueAt(doomed, 0));
  answerText("RegEnumKeyExW on deleted key", subkeyAt(doomed, 0));
  runSteps(doomed, {{"RegOpenKeyExW below deleted key", 'o', L"x"}});
  answerCode("RegDeleteValueW on deleted key", RegDeleteValueW(doomed, L"v"));
  DWORD values = conformance::kSentinel;
  answerCode("RegQueryInfoKeyW on deleted key",
             RegQueryInfoKeyW(doomed, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &values, nullptr, nullptr, nullptr, nullptr));
  answerCode("RegCloseKey deleted key", RegCloseKey(doomed));
}

void deleteChecks(HKEY root) {
  HKEY parent = create(root, L"Del");
  RegCloseKey(create(parent, L"Leaf"));
  RegCloseKey(create(parent, L"Tree\\Branch\\Twig"));
  HKEY self = create(parent, L"Self");
  answerCode("RegDeleteKeyW leaf", RegDeleteKeyW(parent, L"LEAF"));
  answerCode("RegDeleteKeyW leaf again", RegDeleteKeyW(parent, L"Leaf"));
  answerCode("RegDeleteKeyW missing middle", RegDeleteKeyW(parent, L"Nope\\Leaf"));
  LONG rc = RegDeleteKeyW(parent, L"Tree");
  answer("RegDeleteKeyW key with subkeys", "%ld left %s", static_cast<long>(rc),
         subkeyList(parent).c_str());
  answerCode("RegDeleteKeyW leading backslash", RegDeleteKeyW(parent, L"\\Self"));
  rc = RegDeleteKeyW(self, L"");
  answer("RegDeleteKeyW empty subkey deletes the key itself", "%ld then open %s",
         static_cast<long>(rc), openResult(parent, L"Self").c_str());
  answerCode("RegDeleteKeyW null subkey", RegDeleteKeyW(parent, nullptr));
  RegCloseKey(self);
  deleteTree(parent, L"Tree");
  RegCloseKey(parent);
}

// Windows compares names upper-cased character by 16-bit character.
void caseChecks(HKEY root) {
  struct Pair {
    const char* check;
    std::wstring created, opened;
  } pairs[] = {
      {"case sharp s and capital sharp s", L"\u00df", L"\u1e9e"},
      {"case dotless i and I", L"\u0131", L"I"},
      {"case dotted I and i", L"\u0130", L"i"},
      {"case kelvin and k", L"\u212a", L"k"},
      {"case long s and S", L"\u017f", L"S"},
      {"case final sigma and sigma", L"\u03c2", L"\u03c3"},
      {"case micro and mu", L"\u00b5", L"\u039c"},
      {"case y diaeresis", L"\u00ff", L"\u0178"},
      {"case dz titlecase", L"\u01c5", L"\u01c6"},
      {"case fullwidth a", L"\uff41", L"\uff21"},
      {"case georgian", L"\u10d0", L"\u1c90"},
      {"case cherokee", L"\uab70", L"\u13a0"},
      {"case deseret beyond the BMP", cp(0x10428), cp(0x10400)},
      {"case umlaut", L"\u00e4rger", L"\u00c4RGER"},
  };
  HKEY parent = create(root, L"Case");
  for (const auto& pair : pairs) {
    RegCloseKey(create(parent, pair.created));
    std::string opened = openResult(parent, pair.opened.c_str());
    setDword(parent, pair.created.c_str(), 1);
    DWORD size = 0;
    LONG value = RegQueryValueExW(parent, pair.opened.c_str(), nullptr, nullptr, nullptr, &size);
    answer(pair.check, "key %s value %ld", opened.c_str(), static_cast<long>(value));
    deleteTree(parent, pair.created.c_str());
    RegDeleteValueW(parent, pair.created.c_str());
  }
  // A pair given as two units is the character beyond the BMP (where WCHAR has 32 bits, both
  // forms name the same key).
  RegCloseKey(create(parent, cp(0x1F600)));
  const WCHAR pairUnits[] = {static_cast<WCHAR>(0xD83D), static_cast<WCHAR>(0xDE00), 0};
  runSteps(parent, {{"case surrogate pair units", 'o', pairUnits}});
  answerText("case pair enumerates as", subkeyList(parent));
  deleteTree(parent, cp(0x1F600).c_str());

  // a lone surrogate is a character of its own
  const WCHAR lone[] = {L'l', static_cast<WCHAR>(0xD800), 0};
  const WCHAR loneUpper[] = {L'L', static_cast<WCHAR>(0xD800), 0};
  runSteps(parent, {{"case lone surrogate key", 'c', lone},
                    {"case lone surrogate other case", 'o', loneUpper}});
  answerText("case lone surrogate enumerates as", subkeyList(parent));
  const WCHAR loneLow[] = {static_cast<WCHAR>(0xDC00), L'v', 0};
  answerCode("case lone surrogate value", setDword(parent, loneLow, 7));
  answerText("case lone surrogate value enumerates as", valueList(parent));
  deleteTree(parent, lone);
  RegDeleteValueW(parent, loneLow);
  RegCloseKey(parent);
}

// the code points stored in the value named by the one character `c`; false when it cannot be
// read
bool membersOf(HKEY key, unsigned long c, std::vector<DWORD>& members) {
  const WCHAR name[] = {static_cast<WCHAR>(c), 0};
  members.assign(64, 0);
  DWORD size = static_cast<DWORD>(members.size() * sizeof(DWORD));
  LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(members.data()),
                             &size);
  members.resize(rc == ERROR_SUCCESS ? size / sizeof(DWORD) : 0);
  return rc == ERROR_SUCCESS;
}

// Every BMP character as a value name, in order: a name equal to an earlier one under the
// registry's comparison adds itself to that value's data. What merged is printed per block of
// 256 characters, "<first>=<others>" in hex.
void upcaseSweep(HKEY root) {
  HKEY key = create(root, L"Sweep");
  std::vector<DWORD> members;
  for (unsigned long c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const WCHAR name[] = {static_cast<WCHAR>(c), 0};
    membersOf(key, c, members);
    members.push_back(static_cast<DWORD>(c));
    setBytes(key, name, REG_BINARY, members.data(),
             static_cast<DWORD>(members.size() * sizeof(DWORD)));
  }
  std::vector<std::string> blocks(256);
  unsigned long merged = 0;
  for (unsigned long c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (!membersOf(key, c, members)) {
      blocks[c >> 8] += " lost:" + std::to_string(c);
      continue;
    }
    if (members.size() < 2 || members[0] != c) continue;
    char item[32];
    for (size_t i = 0; i < members.size(); ++i) {
      std::snprintf(item, sizeof item, i == 0 ? " %04lx=" : i > 1 ? ",%04lx" : "%04lx",
                    static_cast<unsigned long>(members[i]));
      blocks[c >> 8] += item;
    }
    merged += members.size() - 1;
  }
  DWORD values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  answer("upcase sweep names", "%lu values, %lu merged", static_cast<unsigned long>(values),
         merged);
  for (unsigned block = 0; block < 256; ++block) {
    if (blocks[block].empty()) continue;
    char check[48];
    std::snprintf(check, sizeof check, "upcase sweep U+%02Xxx", block);
    answerText(check, blocks[block].c_str() + 1);
  }
  RegCloseKey(key);
  RegDeleteKeyW(root, L"Sweep");
}

void orderChecks(HKEY root) {
  HKEY parent = create(root, L"Order");
  const std::wstring names[] = {L"b",      L"A",      L"_",      L"a1",     L"C",
                                L"\u00e4", L"z",      L"[",      L"~",      L"\u00df",
                                L"\uFE5F", L"\uFF21", cp(0x1F600), L"a",    L"B2"};
  for (const auto& name : names) RegCloseKey(create(parent, name));
  answerText("RegEnumKeyExW order", subkeyList(parent));

  const WCHAR* const valueNames[] = {L"zeta", L"alpha", L"Mid", L"_x", L"\u00e4"};
  for (const WCHAR* name : valueNames) setDword(parent, name, 1);
  setDword(parent, L"ALPHA", 2);  // overwriting keeps the value's place and name
  answerText("RegEnumValueW order", valueList(parent));
  RegCloseKey(parent);
}

// Entries added and removed while a walk by index goes on: each index is answered from the
// key as it is at that call.
void walkChecks(HKEY root) {
  HKEY key = create(root, L"Walk");
  for (const WCHAR* name : {L"k1", L"k2", L"k3", L"k4", L"k5"}) RegCloseKey(create(key, name));
  std::string seen = subkeyAt(key, 0) + "," + subkeyAt(key, 1);
  RegDeleteKeyW(key, L"k1");
  seen += "," + subkeyAt(key, 2);
  RegCloseKey(create(key, L"k0"));
  seen += "," + subkeyAt(key, 3) + "," + subkeyAt(key, 4) + "," + subkeyAt(key, 5);
  seen += "," + subkeyAt(key, 1) + "," + subkeyAt(key, 1) + "," + subkeyAt(key, 0);
  answerText("RegEnumKeyExW walk with changes", seen);

  for (const WCHAR* name : {L"v1", L"v2", L"v3", L"v4", L"v5"}) setDword(key, name, 1);
  seen = valueAt(key, 0) + "," + valueAt(key, 1);
  RegDeleteValueW(key, L"v1");
  seen += "," + valueAt(key, 2);
  setDword(key, L"v6", 1);
  setDword(key, L"v3", 3);
  seen += "," + valueAt(key, 3) + "," + valueAt(key, 4) + "," + valueAt(key, 5);
  seen += "," + valueAt(key, 2) + "," + valueAt(key, 0);
  answerText("RegEnumValueW walk with changes", seen);

  // two handles on one key walk independently; a change through one shows in the other
  HKEY other = nullptr;
  RegOpenKeyExW(root, L"Walk", 0, KEY_ALL_ACCESS, &other);
  seen = valueAt(key, 0) + "," + valueAt(other, 0) + "," + valueAt(key, 1) + "," +
         valueAt(other, 3);
  RegDeleteValueW(other, L"v2");
  seen += "," + valueAt(key, 1) + "," + valueAt(other, 1) + "," + valueAt(key, 2);
  answerText("RegEnumValueW two handles", seen);
  RegCloseKey(other);
  RegCloseKey(key);
}

void infoChecks(HKEY root) {
  HKEY key = create(root, L"Info");
  DWORD counts[6];
  auto query = [&](HKEY of) {
    std::fill(std::begin(counts), std::end(counts), conformance::kSentinel);
    return static_cast<long>(RegQueryInfoKeyW(of, nullptr, nullptr, nullptr, &counts[0],
                                              &counts[1], &counts[2], &counts[3], &counts[4],
                                              &counts[5], nullptr, nullptr));
  };
  auto ask = [&](const char* check, HKEY of, bool textData) {
    long rc = query(of);
    answer(check, "%ld subkeys=%lx maxsub=%lx maxclass=%lx values=%lx maxname=%lx maxdata=%lx",
           rc, static_cast<unsigned long>(counts[0]), static_cast<unsigned long>(counts[1]),
           static_cast<unsigned long>(counts[2]), static_cast<unsigned long>(counts[3]),
           static_cast<unsigned long>(counts[4]),
           textData ? chars(counts[5]) : static_cast<unsigned long>(counts[5]));
  };
  ask("RegQueryInfoKeyW empty key", key, false);
  for (const WCHAR* name : {L"a", L"abcde", L"abc"}) RegCloseKey(create(key, name));
  const BYTE bytes[7] = {1, 2, 3, 4, 5, 6, 7};
  setBytes(key, L"ab", REG_BINARY, bytes, 3);
  setBytes(key, L"abcd", REG_BINARY, bytes, 7);
  setBytes(key, nullptr, REG_BINARY, bytes, 1);
  ask("RegQueryInfoKeyW subkeys and binary values", key, false);
  HKEY texts = create(key, L"abc");
  setText(texts, L"t", L"four");
  setText(texts, L"longer name", L"x");
  ask("RegQueryInfoKeyW text values", texts, true);
  RegCloseKey(texts);
  DWORD subKeys = conformance::kSentinel;
  LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
  answer("RegQueryInfoKeyW subkeys only", "%ld subkeys=%lx", static_cast<long>(rc),
         static_cast<unsigned long>(subKeys));
  // the longest name in the caller's own units, a pair counting as WCHARs do
  std::wstring pairName = cp(0x1F600, 3) + L"a";
  RegCloseKey(create(key, L"abcde\\" + pairName));
  HKEY deep = create(key, L"abcde");
  query(deep);
  answer("RegQueryInfoKeyW longest name beyond the BMP", "maxsub %s",
         counts[1] == pairName.size() ? "is its length" : "differs");
  RegCloseKey(deep);
  RegCloseKey(key);
}

void enumKeyChecks(HKEY root) {
  HKEY key = create(root, L"EnumKeys");
  RegCloseKey(create(key, L"abcde"));
  WCHAR name[300];
  auto attempt = [&](const char* check, DWORD index, DWORD room) {
    std::fill(std::begin(name), std::end(name), kFill);
    DWORD size = room;
    LONG rc = RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    answer(check, "%ld size=%lx name=%s", static_cast<long>(rc), static_cast<unsigned long>(size),
           text(name, 7).c_str());
  };
  attempt("RegEnumKeyExW room for name and terminator", 0, 6);
  attempt("RegEnumKeyExW room for name only", 0, 5);
  attempt("RegEnumKeyExW no room", 0, 0);
  attempt("RegEnumKeyExW past the end", 1, 300);
  attempt("RegEnumKeyExW far past the end", 1000, 300);

  std::wstring longest(255, L'k');
  RegCloseKey(create(key, longest));
  WCHAR big[300];
  DWORD size = 256;
  LONG rc = RegEnumKeyExW(key, 1, big, &size, nullptr, nullptr, nullptr, nullptr);
  answer("RegEnumKeyExW name of 255", "%ld size=%lu same=%d", static_cast<long>(rc),
         static_cast<unsigned long>(size), rc == 0 && longest == std::wstring(big, size));
  size = 255;
  answerCode("RegEnumKeyExW name of 255 without terminator room",
             RegEnumKeyExW(key, 1, big, &size, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);
}

// The size in characters of a text type, in bytes of another
unsigned long sizeShown(DWORD size, bool textType) {
  return textType && size != conformance::kSentinel ? chars(size)
                                                    : static_cast<unsigned long>(size);
}

// A value's answer to RegQueryValueExW with `room` bytes (or none without a buffer): code,
// type, size, and what the buffer holds
std::string query(HKEY key, const WCHAR* name, DWORD room, bool textType, bool withBuffer = true) {
  // text buffers hold kFill characters, byte buffers kByteFill bytes
  std::vector<WCHAR> buffer(64, kFill);
  if (!textType) std::memset(buffer.data(), kByteFill, buffer.size() * sizeof(WCHAR));
  DWORD type = conformance::kSentinel;
  DWORD size = room;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type,
                             withBuffer ? reinterpret_cast<BYTE*>(buffer.data()) : nullptr, &size);
  char line[96];
  std::snprintf(line, sizeof line, "%ld type=%lx size=%lx ", static_cast<long>(rc),
                static_cast<unsigned long>(type), sizeShown(size, textType));
  if (!withBuffer) return line;
  if (textType) return line + text(buffer.data(), 8);
  return line + conformance::hex(buffer.data(), std::min<DWORD>(room, 12));
}

std::string enumerated(HKEY key, DWORD index, DWORD nameRoom, DWORD dataRoom, bool textType) {
  std::vector<WCHAR> name(300, kFill);
  std::vector<WCHAR> data(64, kFill);
  if (!textType) std::memset(data.data(), kByteFill, data.size() * sizeof(WCHAR));
  DWORD nameSize = nameRoom, type = conformance::kSentinel, size = dataRoom;
  LONG rc = RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &size);
  char line[96];
  std::snprintf(line, sizeof line, "%ld namesize=%lx type=%lx size=%lx ", static_cast<long>(rc),
                static_cast<unsigned long>(nameSize), static_cast<unsigned long>(type),
                sizeShown(size, textType));
  return line + text(name.data(), 6) + " " +
         (textType ? text(data.data(), 6) : conformance::hex(data.data(), 8));
}

void valueChecks(HKEY root) {
  HKEY key = create(root, L"Values");
  const DWORD w = sizeof(WCHAR);
  // the answer of query(); rooms of text values in characters, of others in bytes
  auto ask = [&key, w](const char* check, const WCHAR* name, DWORD room, bool textType) {
    answerText(check, query(key, name, textType ? room * w : room, textType));
  };
  auto sizeOnly = [&key](const char* check, const WCHAR* name) {
    answerText(check, query(key, name, 0, true, false));
  };
  answerCode("RegSetValueExW REG_SZ", setText(key, L"sz", L"text"));
  sizeOnly("RegQueryValueExW REG_SZ size only", L"sz");
  ask("RegQueryValueExW REG_SZ exact room", L"sz", 5, true);
  ask("RegQueryValueExW REG_SZ one short", L"sz", 4, true);
  ask("RegQueryValueExW REG_SZ zero room", L"sz", 0, true);
  ask("RegQueryValueExW other case name", L"SZ", 64, true);
  ask("RegQueryValueExW missing", L"nope", 64, true);

  // Strings stored without their terminator. A character follows each in memory: Windows
  // counts a NUL that follows the data into the value it stores.
  const std::wstring ab = L"abc";
  setBytes(key, L"unterminated", REG_SZ, ab.data(), 2 * w);
  sizeOnly("RegQueryValueExW REG_SZ unterminated size only", L"unterminated");
  ask("RegQueryValueExW REG_SZ unterminated roomy", L"unterminated", 64, true);
  ask("RegQueryValueExW REG_SZ unterminated room for terminator", L"unterminated", 3, true);
  ask("RegQueryValueExW REG_SZ unterminated exact", L"unterminated", 2, true);
  ask("RegQueryValueExW REG_SZ unterminated one short", L"unterminated", 1, true);
  setBytes(key, L"multi unterminated", REG_MULTI_SZ, L"a\0bc", 3 * w);
  ask("RegQueryValueExW REG_MULTI_SZ unterminated roomy", L"multi unterminated", 64, true);
  ask("RegQueryValueExW REG_MULTI_SZ unterminated exact", L"multi unterminated", 3, true);
  setBytes(key, L"expand unterminated", REG_EXPAND_SZ, L"%x%y", 3 * w);
  ask("RegQueryValueExW REG_EXPAND_SZ unterminated roomy", L"expand unterminated", 64, true);
  setBytes(key, L"empty sz", REG_SZ, L"", 0);
  ask("RegQueryValueExW REG_SZ empty", L"empty sz", 64, true);
  HKEY single = create(root, L"Unterminated");
  setBytes(single, L"u", REG_SZ, ab.data(), 2 * w);
  answerText("RegEnumValueW REG_SZ unterminated roomy", enumerated(single, 0, 300, 64 * w, true));
  answerText("RegEnumValueW REG_SZ unterminated exact", enumerated(single, 0, 300, 2 * w, true));
  RegCloseKey(single);

  // every type the device tool writes
  setText(key, L"expand", L"%TEMP%\\x", REG_EXPAND_SZ);
  ask("RegQueryValueExW REG_EXPAND_SZ", L"expand", 64, true);
  setBytes(key, L"multi", REG_MULTI_SZ, L"a\0bc\0", 6 * w);
  ask("RegQueryValueExW REG_MULTI_SZ", L"multi", 64, true);
  answerCode("RegSetValueExW REG_DWORD", setDword(key, L"dword", 0x12345678));
  ask("RegQueryValueExW REG_DWORD", L"dword", 64, false);
  ask("RegQueryValueExW REG_DWORD short room", L"dword", 3, false);
  const BYTE two[2] = {1, 2};
  answerCode("RegSetValueExW REG_DWORD of two bytes",
             setBytes(key, L"short dword", REG_DWORD, two, 2));
  ask("RegQueryValueExW REG_DWORD of two bytes", L"short dword", 64, false);
  const unsigned long long big = 0x0102030405060708ULL;
  setBytes(key, L"qword", REG_QWORD, &big, 8);
  ask("RegQueryValueExW REG_QWORD", L"qword", 64, false);
  const BYTE bytes[5] = {0, 0xff, 0x10, 0, 7};
  setBytes(key, L"binary", REG_BINARY, bytes, 5);
  ask("RegQueryValueExW REG_BINARY", L"binary", 64, false);
  ask("RegQueryValueExW REG_BINARY exact", L"binary", 5, false);
  ask("RegQueryValueExW REG_BINARY one short", L"binary", 4, false);
  setBytes(key, L"none", REG_NONE, bytes, 2);
  ask("RegQueryValueExW REG_NONE", L"none", 64, false);
  setBytes(key, L"empty", REG_BINARY, nullptr, 0);
  ask("RegQueryValueExW empty REG_BINARY", L"empty", 64, false);
  setBytes(key, L"type 99", 99, bytes, 3);
  ask("RegQueryValueExW type 99", L"type 99", 64, false);

  // the default value
  ask("RegQueryValueExW default before set", nullptr, 64, true);
  setText(key, nullptr, L"dflt");
  ask("RegQueryValueExW default by null", nullptr, 64, true);
  ask("RegQueryValueExW default by empty", L"", 64, true);
  answerCode("RegDeleteValueW default by empty", RegDeleteValueW(key, L""));
  ask("RegQueryValueExW default after delete", nullptr, 64, true);

  // null pointers a caller may pass
  answerCode("RegQueryValueExW null size only",
             RegQueryValueExW(key, L"sz", nullptr, nullptr, nullptr, nullptr));
  WCHAR buffer[8];
  answerCode("RegQueryValueExW buffer without size",
             RegQueryValueExW(key, L"sz", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                              nullptr));
  answerCode("RegSetValueExW null data with size",
             RegSetValueExW(key, L"nulldata", 0, REG_BINARY, nullptr, 4));
  answerCode("RegSetValueExW null data zero size",
             RegSetValueExW(key, L"nulldata0", 0, REG_BINARY, nullptr, 0));

  // value names at their limit
  const std::wstring longest(16383, L'v'), tooLong = longest + L"v";
  DWORD size = 0;
  answerCode("RegSetValueExW name of 16383", setDword(key, longest.c_str(), 1));
  answerCode("RegQueryValueExW name of 16383",
             RegQueryValueExW(key, longest.c_str(), nullptr, nullptr, nullptr, &size));
  answerCode("RegSetValueExW name of 16384", setDword(key, tooLong.c_str(), 1));
  answerCode("RegSetValueExW name of 256", setDword(key, std::wstring(256, L'n').c_str(), 1));
  answerCode("RegQueryValueExW name of 16384",
             RegQueryValueExW(key, tooLong.c_str(), nullptr, nullptr, nullptr, &size));
  HKEY lone = create(root, L"LongName");
  setDword(lone, longest.c_str(), 5);
  std::vector<WCHAR> name(16384 + 2, kFill);
  DWORD nameSize = 16384;
  LONG rc = RegEnumValueW(lone, 0, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
  answer("RegEnumValueW name of 16383", "%ld namesize=%lu same=%d", static_cast<long>(rc),
         static_cast<unsigned long>(nameSize),
         rc == 0 && longest == std::wstring(name.data(), nameSize));
  nameSize = 16383;
  answerCode("RegEnumValueW name of 16383 without terminator room",
             RegEnumValueW(lone, 0, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr));
  DWORD maxName = 0;
  RegQueryInfoKeyW(lone, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                   nullptr, nullptr, nullptr);
  answer("RegQueryInfoKeyW name of 16383", "maxname=%lu", static_cast<unsigned long>(maxName));
  RegCloseKey(lone);

  answerCode("RegDeleteValueW other case", RegDeleteValueW(key, L"DWORD"));
  answerCode("RegDeleteValueW again", RegDeleteValueW(key, L"dword"));
  answerCode("RegDeleteValueW null name without default", RegDeleteValueW(key, nullptr));
  RegCloseKey(key);
}

void enumValueChecks(HKEY root) {
  // one value per key, so that the order of a key's values plays no part
  HKEY key = create(root, L"EnumValues");
  const DWORD w = sizeof(WCHAR);
  auto ask = [&key](const char* check, DWORD index, DWORD nameRoom, DWORD dataRoom) {
    answerText(check, enumerated(key, index, nameRoom, dataRoom, true));
  };
  setText(key, L"name", L"data");
  ask("RegEnumValueW roomy", 0, 300, 64 * w);
  ask("RegEnumValueW name exact", 0, 5, 64 * w);
  ask("RegEnumValueW name one short", 0, 4, 64 * w);
  ask("RegEnumValueW data exact", 0, 300, 5 * w);
  ask("RegEnumValueW data one short", 0, 300, 4 * w);
  ask("RegEnumValueW name and data short", 0, 2, 2 * w);
  ask("RegEnumValueW past the end", 1, 300, 64 * w);

  // names and types only, as the device tool asks first
  WCHAR name[300];
  DWORD nameSize = 300, type = conformance::kSentinel, size = conformance::kSentinel;
  LONG rc = RegEnumValueW(key, 0, name, &nameSize, nullptr, &type, nullptr, &size);
  answer("RegEnumValueW size only", "%ld namesize=%lu type=%lx size=%lu", static_cast<long>(rc),
         static_cast<unsigned long>(nameSize), static_cast<unsigned long>(type), chars(size));
  nameSize = 300;
  rc = RegEnumValueW(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
  answer("RegEnumValueW name only", "%ld namesize=%lu %s", static_cast<long>(rc),
         static_cast<unsigned long>(nameSize), text(name, nameSize).c_str());
  nameSize = 300;
  answerCode("RegEnumValueW null name",
             RegEnumValueW(key, 0, nullptr, &nameSize, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);

  HKEY dword = create(root, L"EnumDword");
  setDword(dword, L"n2", 0x01020304);
  answerText("RegEnumValueW dword", enumerated(dword, 0, 300, 64, false));
  answerText("RegEnumValueW dword short", enumerated(dword, 0, 300, 2, false));
  RegCloseKey(dword);

  HKEY unnamed = create(root, L"EnumDefault");
  setText(unnamed, nullptr, L"d");
  answerText("RegEnumValueW default value", enumerated(unnamed, 0, 300, 64 * w, true));
  RegCloseKey(unnamed);
}

}  // namespace

int main() {
  deleteTree(HKEY_LOCAL_MACHINE, kRoot);
  HKEY root = create(HKEY_LOCAL_MACHINE, kRoot);
  answer("test key created", "%s", root ? "yes" : "no");
  if (!root) return 1;
  keyChecks(root);
  handleChecks(root);
  deleteChecks(root);
  caseChecks(root);
  orderChecks(root);
  walkChecks(root);
  infoChecks(root);
  enumKeyChecks(root);
  valueChecks(root);
  enumValueChecks(root);
  upcaseSweep(root);
  RegCloseKey(root);
  deleteTree(HKEY_LOCAL_MACHINE, kRoot);
  answerText("test key removed", openResult(HKEY_LOCAL_MACHINE, kRoot));
  return 0;
}
