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

HKEY create(HKEY parent, const std::wstring& name, LONG* result = nullptr) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr);
  if (result) *result = rc;
  return rc == ERROR_SUCCESS ? key : nullptr;
}

// "<rc> disp=<disposition> <handle>" of one RegCreateKeyExW, its handle closed
std::string createResult(HKEY parent, const WCHAR* name) {
  HKEY key = kSentinelKey;
  DWORD disposition = conformance::kSentinel;
  LONG rc = RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition);
  char line[96];
  std::snprintf(line, sizeof line, "%ld disp=%lx %s", static_cast<long>(rc),
                static_cast<unsigned long>(disposition), handleText(key));
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

// the subkeys of `key` in enumeration order, comma-separated
std::string subkeyList(HKEY key) {
  std::string all;
  for (DWORD i = 0;; ++i) {
    WCHAR name[300];
    DWORD size = 300;
    LONG rc = RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return all;
    if (rc != ERROR_SUCCESS) return all + "<" + std::to_string(rc) + ">";
    all += (i ? "," : "") + text(name, size);
  }
}

std::string valueList(HKEY key) {
  std::string all;
  for (DWORD i = 0;; ++i) {
    WCHAR name[300];
    DWORD size = 300;
    LONG rc = RegEnumValueW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return all;
    if (rc != ERROR_SUCCESS) return all + "<" + std::to_string(rc) + ">";
    all += (i ? "," : "") + text(name, size);
  }
}

// one RegEnumKeyExW by index: the name, or the error
std::string subkeyAt(HKEY key, DWORD index) {
  WCHAR name[300];
  DWORD size = 300;
  LONG rc = RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return rc == ERROR_SUCCESS ? text(name, size) : "<" + std::to_string(rc) + ">";
}

std::string valueAt(HKEY key, DWORD index) {
  WCHAR name[300];
  DWORD size = 300;
  LONG rc = RegEnumValueW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return rc == ERROR_SUCCESS ? text(name, size) : "<" + std::to_string(rc) + ">";
}

void keyChecks(HKEY root) {
  answer("RegCreateKeyExW new key", "%s", createResult(root, L"Alpha").c_str());
  answer("RegCreateKeyExW existing key", "%s", createResult(root, L"Alpha").c_str());
  answer("RegCreateKeyExW existing key other case", "%s", createResult(root, L"aLPHA").c_str());
  answer("RegCreateKeyExW nested path", "%s", createResult(root, L"Nest\\Deeper\\Deepest").c_str());
  answer("RegOpenKeyExW middle of created path", "%s", openResult(root, L"Nest\\Deeper").c_str());
  HKEY self = kSentinelKey;
  LONG rc = RegCreateKeyExW(root, L"", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &self, nullptr);
  answer("RegCreateKeyExW empty subkey", "%ld %s", static_cast<long>(rc), handleText(self));
  if (rc == ERROR_SUCCESS) RegCloseKey(self);

  answer("RegCreateKeyExW slash is a character", "%s", createResult(root, L"a/b").c_str());
  answer("RegOpenKeyExW slash not a separator", "%s", openResult(root, L"a").c_str());
  answer("RegCreateKeyExW leading backslash", "%s", createResult(root, L"\\Lead").c_str());
  answer("RegCreateKeyExW backslash alone", "%s", createResult(root, L"\\").c_str());
  answer("RegCreateKeyExW one trailing backslash", "%s", createResult(root, L"Trail1\\").c_str());
  answer("RegCreateKeyExW two trailing backslashes", "%s",
         createResult(root, L"Trail2\\\\").c_str());
  answer("RegOpenKeyExW key made with trailing backslashes", "%s",
         openResult(root, L"Trail2").c_str());
  answer("RegCreateKeyExW doubled inner backslash", "%s",
         createResult(root, L"Double\\\\Inner").c_str());
  answer("RegOpenKeyExW doubled inner backslash", "%s",
         openResult(root, L"Double\\\\Inner").c_str());
  answer("RegOpenKeyExW single inner backslash after doubled create", "%s",
         openResult(root, L"Double\\Inner").c_str());

  // names at the limit, in characters of the device's 16-bit wide text
  std::wstring longest(255, L'k');
  answer("RegCreateKeyExW name of 255", "%s", createResult(root, longest.c_str()).c_str());
  answer("RegCreateKeyExW name of 256", "%s", createResult(root, (longest + L"k").c_str()).c_str());
  answer("RegOpenKeyExW name of 256", "%s", openResult(root, (longest + L"k").c_str()).c_str());
  std::wstring path = L"Limits\\" + longest + L"\\" + longest;
  answer("RegCreateKeyExW path of two 255 names", "%s", createResult(root, path.c_str()).c_str());
  // 127 characters beyond the BMP are 254 units on the device: with one more, 255 fit and
  // 256 do not
  std::wstring wide = cp(0x1F600, 127);
  answer("RegCreateKeyExW 255 units with pairs", "%s",
         createResult(root, (wide + L"x").c_str()).c_str());
  answer("RegCreateKeyExW 256 units with pairs", "%s",
         createResult(root, (wide + cp(0x1F600)).c_str()).c_str());

  answer("RegOpenKeyExW missing key", "%s", openResult(root, L"Missing").c_str());
  answer("RegOpenKeyExW missing middle", "%s", openResult(root, L"Missing\\Alpha").c_str());
  answer("RegOpenKeyExW other case", "%s", openResult(root, L"ALPHA").c_str());
  answer("RegOpenKeyExW empty subkey", "%s", openResult(root, L"").c_str());
  answer("RegOpenKeyExW null subkey", "%s", openResult(root, nullptr).c_str());
  answer("RegOpenKeyExW leading backslash", "%s", openResult(root, L"\\Alpha").c_str());
  answer("RegOpenKeyExW one trailing backslash", "%s", openResult(root, L"Alpha\\").c_str());
  answer("RegOpenKeyExW two trailing backslashes", "%s", openResult(root, L"Alpha\\\\").c_str());

  // a relative path from an open key reaches what the full path reaches
  HKEY nest = create(root, L"Nest");
  answer("RegOpenKeyExW relative to an open key", "%s",
         openResult(nest, L"deeper\\DEEPEST").c_str());
  RegCloseKey(nest);
}

void handleChecks(HKEY root) {
  HKEY key = create(root, L"Handles");
  answer("RegFlushKey open key", "%ld", static_cast<long>(RegFlushKey(key)));
  answer("RegFlushKey HKEY_LOCAL_MACHINE", "%ld",
         static_cast<long>(RegFlushKey(HKEY_LOCAL_MACHINE)));
  answer("RegCloseKey open key", "%ld", static_cast<long>(RegCloseKey(key)));
  answer("RegCloseKey closed key", "%ld", static_cast<long>(RegCloseKey(key)));
  answer("RegCloseKey null", "%ld", static_cast<long>(RegCloseKey(nullptr)));
  answer("RegFlushKey closed key", "%ld", static_cast<long>(RegFlushKey(key)));
  answer("RegOpenKeyExW from closed key", "%s", openResult(key, L"x").c_str());
  answer("RegCreateKeyExW from closed key", "%s", createResult(key, L"x").c_str());
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, L"x", nullptr, nullptr, nullptr, &size);
  answer("RegQueryValueExW on closed key", "%ld", static_cast<long>(rc));
  answer("RegSetValueExW on closed key", "%ld", static_cast<long>(setDword(key, L"x", 1)));
  DWORD subKeys = conformance::kSentinel;
  rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr);
  answer("RegQueryInfoKeyW on closed key", "%ld subkeys=%lx", static_cast<long>(rc),
         static_cast<unsigned long>(subKeys));
  answer("RegEnumKeyExW on closed key", "%s", subkeyAt(key, 0).c_str());
  answer("RegEnumValueW on closed key", "%s", valueAt(key, 0).c_str());
  answer("RegDeleteKeyW from closed key", "%ld", static_cast<long>(RegDeleteKeyW(key, L"x")));
  answer("RegDeleteValueW on closed key", "%ld", static_cast<long>(RegDeleteValueW(key, L"x")));

  // a handle outlives its key
  HKEY doomed = create(root, L"Doomed");
  setDword(doomed, L"v", 1);
  answer("RegDeleteKeyW key with open handle", "%ld",
         static_cast<long>(RegDeleteKeyW(root, L"Doomed")));
  answer("RegSetValueExW on deleted key", "%ld", static_cast<long>(setDword(doomed, L"v", 2)));
  size = conformance::kSentinel;
  answer("RegQueryValueExW on deleted key", "%ld",
         static_cast<long>(RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size)));
  answer("RegCreateKeyExW below deleted key", "%s", createResult(doomed, L"x").c_str());
  answer("RegEnumValueW on deleted key", "%s", valueAt(doomed, 0).c_str());
  answer("RegEnumKeyExW on deleted key", "%s", subkeyAt(doomed, 0).c_str());
  answer("RegOpenKeyExW below deleted key", "%s", openResult(doomed, L"x").c_str());
  answer("RegDeleteValueW on deleted key", "%ld",
         static_cast<long>(RegDeleteValueW(doomed, L"v")));
  DWORD values = conformance::kSentinel;
  rc = RegQueryInfoKeyW(doomed, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                        nullptr, nullptr, nullptr, nullptr);
  answer("RegQueryInfoKeyW on deleted key", "%ld", static_cast<long>(rc));
  answer("RegCloseKey deleted key", "%ld", static_cast<long>(RegCloseKey(doomed)));
}

void deleteChecks(HKEY root) {
  HKEY parent = create(root, L"Del");
  RegCloseKey(create(parent, L"Leaf"));
  RegCloseKey(create(parent, L"Tree\\Branch\\Twig"));
  HKEY self = create(parent, L"Self");
  answer("RegDeleteKeyW leaf", "%ld", static_cast<long>(RegDeleteKeyW(parent, L"LEAF")));
  answer("RegDeleteKeyW leaf again", "%ld", static_cast<long>(RegDeleteKeyW(parent, L"Leaf")));
  answer("RegDeleteKeyW missing middle", "%ld",
         static_cast<long>(RegDeleteKeyW(parent, L"Nope\\Leaf")));
  LONG rc = RegDeleteKeyW(parent, L"Tree");
  answer("RegDeleteKeyW key with subkeys", "%ld left %s", static_cast<long>(rc),
         subkeyList(parent).c_str());
  answer("RegDeleteKeyW leading backslash", "%ld",
         static_cast<long>(RegDeleteKeyW(parent, L"\\Self")));
  rc = RegDeleteKeyW(self, L"");
  answer("RegDeleteKeyW empty subkey deletes the key itself", "%ld then open %s",
         static_cast<long>(rc), openResult(parent, L"Self").c_str());
  rc = RegDeleteKeyW(parent, nullptr);
  answer("RegDeleteKeyW null subkey", "%ld", static_cast<long>(rc));
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
    HKEY made = create(parent, pair.created);
    RegCloseKey(made);
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
  answer("case surrogate pair units", "%s", openResult(parent, pairUnits).c_str());
  answer("case pair enumerates as", "%s", subkeyList(parent).c_str());
  deleteTree(parent, cp(0x1F600).c_str());

  // a lone surrogate is a character of its own
  const WCHAR lone[] = {L'l', static_cast<WCHAR>(0xD800), 0};
  const WCHAR loneUpper[] = {L'L', static_cast<WCHAR>(0xD800), 0};
  answer("case lone surrogate key", "%s", createResult(parent, lone).c_str());
  answer("case lone surrogate other case", "%s", openResult(parent, loneUpper).c_str());
  answer("case lone surrogate enumerates as", "%s", subkeyList(parent).c_str());
  const WCHAR loneLow[] = {static_cast<WCHAR>(0xDC00), L'v', 0};
  answer("case lone surrogate value", "%ld", static_cast<long>(setDword(parent, loneLow, 7)));
  answer("case lone surrogate value enumerates as", "%s", valueList(parent).c_str());
  deleteTree(parent, lone);
  RegDeleteValueW(parent, loneLow);
  RegCloseKey(parent);
}

// Every BMP character as a value name, in order: a name equal to an earlier one under the
// registry's comparison adds itself to that value's data. What merged is printed per block of
// 256 characters, "<first>=<others>" in hex.
void upcaseSweep(HKEY root) {
  HKEY key = create(root, L"Sweep");
  for (unsigned long c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const WCHAR name[] = {static_cast<WCHAR>(c), 0};
    std::vector<DWORD> members(64);
    DWORD size = static_cast<DWORD>(members.size() * sizeof(DWORD));
    LONG rc = RegQueryValueExW(key, name, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(members.data()), &size);
    members.resize(rc == ERROR_SUCCESS ? size / sizeof(DWORD) : 0);
    members.push_back(static_cast<DWORD>(c));
    setBytes(key, name, REG_BINARY, members.data(),
             static_cast<DWORD>(members.size() * sizeof(DWORD)));
  }
  std::vector<std::string> blocks(256);
  unsigned long merged = 0;
  for (unsigned long c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const WCHAR name[] = {static_cast<WCHAR>(c), 0};
    DWORD members[64];
    DWORD size = sizeof members;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(members), &size) !=
        ERROR_SUCCESS) {
      blocks[c >> 8] += " lost:" + std::to_string(c);
      continue;
    }
    DWORD count = size / sizeof(DWORD);
    if (count < 2 || members[0] != c) continue;
    char item[32];
    std::snprintf(item, sizeof item, " %04lx=", c);
    blocks[c >> 8] += item;
    for (DWORD i = 1; i < count; ++i) {
      std::snprintf(item, sizeof item, i > 1 ? ",%04lx" : "%04lx",
                    static_cast<unsigned long>(members[i]));
      blocks[c >> 8] += item;
    }
    merged += count - 1;
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
    answer(check, "%s", blocks[block].c_str() + 1);
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
  answer("RegEnumKeyExW order", "%s", subkeyList(parent).c_str());

  const WCHAR* const valueNames[] = {L"zeta", L"alpha", L"Mid", L"_x", L"\u00e4"};
  for (const WCHAR* name : valueNames) setDword(parent, name, 1);
  setDword(parent, L"ALPHA", 2);  // overwriting keeps the value's place and name
  answer("RegEnumValueW order", "%s", valueList(parent).c_str());
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
  answer("RegEnumKeyExW walk with changes", "%s", seen.c_str());

  for (const WCHAR* name : {L"v1", L"v2", L"v3", L"v4", L"v5"}) setDword(key, name, 1);
  seen = valueAt(key, 0) + "," + valueAt(key, 1);
  RegDeleteValueW(key, L"v1");
  seen += "," + valueAt(key, 2);
  setDword(key, L"v6", 1);
  setDword(key, L"v3", 3);
  seen += "," + valueAt(key, 3) + "," + valueAt(key, 4) + "," + valueAt(key, 5);
  seen += "," + valueAt(key, 2) + "," + valueAt(key, 0);
  answer("RegEnumValueW walk with changes", "%s", seen.c_str());

  // two handles on one key walk independently; a change through one shows in the other
  HKEY other = nullptr;
  RegOpenKeyExW(root, L"Walk", 0, KEY_ALL_ACCESS, &other);
  seen = valueAt(key, 0) + "," + valueAt(other, 0) + "," + valueAt(key, 1) + "," +
         valueAt(other, 3);
  RegDeleteValueW(other, L"v2");
  seen += "," + valueAt(key, 1) + "," + valueAt(other, 1) + "," + valueAt(key, 2);
  answer("RegEnumValueW two handles", "%s", seen.c_str());
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
  auto show = [&](const char* check, long rc, bool textData) {
    answer(check, "%ld subkeys=%lx maxsub=%lx maxclass=%lx values=%lx maxname=%lx maxdata=%lx",
           rc, static_cast<unsigned long>(counts[0]), static_cast<unsigned long>(counts[1]),
           static_cast<unsigned long>(counts[2]), static_cast<unsigned long>(counts[3]),
           static_cast<unsigned long>(counts[4]),
           textData ? chars(counts[5]) : static_cast<unsigned long>(counts[5]));
  };
  long rc = query(key);
  show("RegQueryInfoKeyW empty key", rc, false);
  for (const WCHAR* name : {L"a", L"abcde", L"abc"}) RegCloseKey(create(key, name));
  const BYTE bytes[7] = {1, 2, 3, 4, 5, 6, 7};
  setBytes(key, L"ab", REG_BINARY, bytes, 3);
  setBytes(key, L"abcd", REG_BINARY, bytes, 7);
  setBytes(key, nullptr, REG_BINARY, bytes, 1);
  rc = query(key);
  show("RegQueryInfoKeyW subkeys and binary values", rc, false);
  HKEY texts = create(key, L"abc");
  setText(texts, L"t", L"four");
  setText(texts, L"longer name", L"x");
  rc = query(texts);
  show("RegQueryInfoKeyW text values", rc, true);
  RegCloseKey(texts);
  DWORD subKeys = conformance::kSentinel;
  rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr);
  answer("RegQueryInfoKeyW subkeys only", "%ld subkeys=%lx", rc,
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
  answer("RegEnumKeyExW name of 255 without terminator room", "%ld",
         static_cast<long>(RegEnumKeyExW(key, 1, big, &size, nullptr, nullptr, nullptr, nullptr)));
  RegCloseKey(key);
}

// A value's answer to RegQueryValueExW with `room` bytes (or none without a buffer): code,
// type, size in characters or bytes, and what the buffer holds
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
                static_cast<unsigned long>(type),
                textType && size != conformance::kSentinel ? chars(size)
                                                           : static_cast<unsigned long>(size));
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
                textType && size != conformance::kSentinel ? chars(size)
                                                           : static_cast<unsigned long>(size));
  return line + text(name.data(), 6) + " " +
         (textType ? text(data.data(), 6) : conformance::hex(data.data(), 8));
}

void valueChecks(HKEY root) {
  HKEY key = create(root, L"Values");
  const DWORD w = sizeof(WCHAR);
  answer("RegSetValueExW REG_SZ", "%ld", static_cast<long>(setText(key, L"sz", L"text")));
  answer("RegQueryValueExW REG_SZ size only", "%s", query(key, L"sz", 0, true, false).c_str());
  answer("RegQueryValueExW REG_SZ exact room", "%s", query(key, L"sz", 5 * w, true).c_str());
  answer("RegQueryValueExW REG_SZ one short", "%s", query(key, L"sz", 4 * w, true).c_str());
  answer("RegQueryValueExW REG_SZ zero room", "%s", query(key, L"sz", 0, true).c_str());
  answer("RegQueryValueExW other case name", "%s", query(key, L"SZ", 64 * w, true).c_str());
  answer("RegQueryValueExW missing", "%s", query(key, L"nope", 64 * w, true).c_str());

  // strings stored without their terminator
  const std::wstring ab = L"ab";
  setBytes(key, L"unterminated", REG_SZ, ab.data(), 2 * w);
  answer("RegQueryValueExW REG_SZ unterminated size only", "%s",
         query(key, L"unterminated", 0, true, false).c_str());
  answer("RegQueryValueExW REG_SZ unterminated roomy", "%s",
         query(key, L"unterminated", 64 * w, true).c_str());
  answer("RegQueryValueExW REG_SZ unterminated room for terminator", "%s",
         query(key, L"unterminated", 3 * w, true).c_str());
  answer("RegQueryValueExW REG_SZ unterminated exact", "%s",
         query(key, L"unterminated", 2 * w, true).c_str());
  answer("RegQueryValueExW REG_SZ unterminated one short", "%s",
         query(key, L"unterminated", 1 * w, true).c_str());
  setBytes(key, L"multi unterminated", REG_MULTI_SZ, L"a\0b", 3 * w);
  answer("RegQueryValueExW REG_MULTI_SZ unterminated roomy", "%s",
         query(key, L"multi unterminated", 64 * w, true).c_str());
  answer("RegQueryValueExW REG_MULTI_SZ unterminated exact", "%s",
         query(key, L"multi unterminated", 3 * w, true).c_str());
  setBytes(key, L"expand unterminated", REG_EXPAND_SZ, L"%x%", 3 * w);
  answer("RegQueryValueExW REG_EXPAND_SZ unterminated roomy", "%s",
         query(key, L"expand unterminated", 64 * w, true).c_str());
  setBytes(key, L"empty sz", REG_SZ, L"", 0);
  answer("RegQueryValueExW REG_SZ empty", "%s", query(key, L"empty sz", 64 * w, true).c_str());
  HKEY single = create(root, L"Unterminated");
  setBytes(single, L"u", REG_SZ, ab.data(), 2 * w);
  answer("RegEnumValueW REG_SZ unterminated roomy", "%s",
         enumerated(single, 0, 300, 64 * w, true).c_str());
  answer("RegEnumValueW REG_SZ unterminated exact", "%s",
         enumerated(single, 0, 300, 2 * w, true).c_str());
  RegCloseKey(single);

  // every type the device tool writes
  setText(key, L"expand", L"%TEMP%\\x", REG_EXPAND_SZ);
  answer("RegQueryValueExW REG_EXPAND_SZ", "%s", query(key, L"expand", 64 * w, true).c_str());
  setBytes(key, L"multi", REG_MULTI_SZ, L"a\0bc\0", 6 * w);
  answer("RegQueryValueExW REG_MULTI_SZ", "%s", query(key, L"multi", 64 * w, true).c_str());
  answer("RegSetValueExW REG_DWORD", "%ld", static_cast<long>(setDword(key, L"dword", 0x12345678)));
  answer("RegQueryValueExW REG_DWORD", "%s", query(key, L"dword", 64, false).c_str());
  answer("RegQueryValueExW REG_DWORD short room", "%s", query(key, L"dword", 3, false).c_str());
  const BYTE two[2] = {1, 2};
  answer("RegSetValueExW REG_DWORD of two bytes", "%ld",
         static_cast<long>(setBytes(key, L"short dword", REG_DWORD, two, 2)));
  answer("RegQueryValueExW REG_DWORD of two bytes", "%s",
         query(key, L"short dword", 64, false).c_str());
  const unsigned long long big = 0x0102030405060708ULL;
  setBytes(key, L"qword", REG_QWORD, &big, 8);
  answer("RegQueryValueExW REG_QWORD", "%s", query(key, L"qword", 64, false).c_str());
  const BYTE bytes[5] = {0, 0xff, 0x10, 0, 7};
  setBytes(key, L"binary", REG_BINARY, bytes, 5);
  answer("RegQueryValueExW REG_BINARY", "%s", query(key, L"binary", 64, false).c_str());
  answer("RegQueryValueExW REG_BINARY exact", "%s", query(key, L"binary", 5, false).c_str());
  answer("RegQueryValueExW REG_BINARY one short", "%s", query(key, L"binary", 4, false).c_str());
  setBytes(key, L"none", REG_NONE, bytes, 2);
  answer("RegQueryValueExW REG_NONE", "%s", query(key, L"none", 64, false).c_str());
  setBytes(key, L"empty", REG_BINARY, nullptr, 0);
  answer("RegQueryValueExW empty REG_BINARY", "%s", query(key, L"empty", 64, false).c_str());
  setBytes(key, L"type 99", 99, bytes, 3);
  answer("RegQueryValueExW type 99", "%s", query(key, L"type 99", 64, false).c_str());

  // the default value
  answer("RegQueryValueExW default before set", "%s", query(key, nullptr, 64 * w, true).c_str());
  setText(key, nullptr, L"dflt");
  answer("RegQueryValueExW default by null", "%s", query(key, nullptr, 64 * w, true).c_str());
  answer("RegQueryValueExW default by empty", "%s", query(key, L"", 64 * w, true).c_str());
  answer("RegDeleteValueW default by empty", "%ld", static_cast<long>(RegDeleteValueW(key, L"")));
  answer("RegQueryValueExW default after delete", "%s", query(key, nullptr, 64 * w, true).c_str());

  // null pointers a caller may pass
  DWORD size = 4;
  answer("RegQueryValueExW null size only", "%ld",
         static_cast<long>(RegQueryValueExW(key, L"sz", nullptr, nullptr, nullptr, nullptr)));
  WCHAR buffer[8];
  answer("RegQueryValueExW buffer without size", "%ld",
         static_cast<long>(RegQueryValueExW(key, L"sz", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(buffer), nullptr)));
  answer("RegSetValueExW null data with size", "%ld",
         static_cast<long>(RegSetValueExW(key, L"nulldata", 0, REG_BINARY, nullptr, 4)));
  answer("RegSetValueExW null data zero size", "%ld",
         static_cast<long>(RegSetValueExW(key, L"nulldata0", 0, REG_BINARY, nullptr, 0)));
  (void)size;

  // value names at their limit
  std::wstring longest(16383, L'v');
  answer("RegSetValueExW name of 16383", "%ld",
         static_cast<long>(setDword(key, longest.c_str(), 1)));
  size = 0;
  answer("RegQueryValueExW name of 16383", "%ld",
         static_cast<long>(RegQueryValueExW(key, longest.c_str(), nullptr, nullptr, nullptr,
                                            &size)));
  answer("RegSetValueExW name of 16384", "%ld",
         static_cast<long>(setDword(key, (longest + L"v").c_str(), 1)));
  answer("RegSetValueExW name of 256", "%ld",
         static_cast<long>(setDword(key, std::wstring(256, L'n').c_str(), 1)));
  answer("RegQueryValueExW name of 16384", "%ld",
         static_cast<long>(RegQueryValueExW(key, (longest + L"v").c_str(), nullptr, nullptr,
                                            nullptr, &size)));
  HKEY lone = create(root, L"LongName");
  setDword(lone, longest.c_str(), 5);
  std::vector<WCHAR> name(16384 + 2, kFill);
  DWORD nameSize = 16384;
  LONG rc = RegEnumValueW(lone, 0, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
  answer("RegEnumValueW name of 16383", "%ld namesize=%lu same=%d", static_cast<long>(rc),
         static_cast<unsigned long>(nameSize),
         rc == 0 && longest == std::wstring(name.data(), nameSize));
  nameSize = 16383;
  answer("RegEnumValueW name of 16383 without terminator room", "%ld",
         static_cast<long>(RegEnumValueW(lone, 0, name.data(), &nameSize, nullptr, nullptr,
                                         nullptr, nullptr)));
  DWORD maxName = 0;
  RegQueryInfoKeyW(lone, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                   nullptr, nullptr, nullptr);
  answer("RegQueryInfoKeyW name of 16383", "maxname=%lu", static_cast<unsigned long>(maxName));
  RegCloseKey(lone);

  answer("RegDeleteValueW other case", "%ld", static_cast<long>(RegDeleteValueW(key, L"DWORD")));
  answer("RegDeleteValueW again", "%ld", static_cast<long>(RegDeleteValueW(key, L"dword")));
  answer("RegDeleteValueW null name without default", "%ld",
         static_cast<long>(RegDeleteValueW(key, nullptr)));
  RegCloseKey(key);
}

void enumValueChecks(HKEY root) {
  // one value per key, so that the order of a key's values plays no part
  HKEY key = create(root, L"EnumValues");
  const DWORD w = sizeof(WCHAR);
  setText(key, L"name", L"data");
  answer("RegEnumValueW roomy", "%s", enumerated(key, 0, 300, 64 * w, true).c_str());
  answer("RegEnumValueW name exact", "%s", enumerated(key, 0, 5, 64 * w, true).c_str());
  answer("RegEnumValueW name one short", "%s", enumerated(key, 0, 4, 64 * w, true).c_str());
  answer("RegEnumValueW data exact", "%s", enumerated(key, 0, 300, 5 * w, true).c_str());
  answer("RegEnumValueW data one short", "%s", enumerated(key, 0, 300, 4 * w, true).c_str());
  answer("RegEnumValueW name and data short", "%s", enumerated(key, 0, 2, 2 * w, true).c_str());
  answer("RegEnumValueW past the end", "%s", enumerated(key, 1, 300, 64 * w, true).c_str());

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
  rc = RegEnumValueW(key, 0, nullptr, &nameSize, nullptr, nullptr, nullptr, nullptr);
  answer("RegEnumValueW null name", "%ld", static_cast<long>(rc));
  RegCloseKey(key);

  HKEY dword = create(root, L"EnumDword");
  setDword(dword, L"n2", 0x01020304);
  answer("RegEnumValueW dword", "%s", enumerated(dword, 0, 300, 64, false).c_str());
  answer("RegEnumValueW dword short", "%s", enumerated(dword, 0, 300, 2, false).c_str());
  RegCloseKey(dword);

  HKEY unnamed = create(root, L"EnumDefault");
  setText(unnamed, nullptr, L"d");
  answer("RegEnumValueW default value", "%s", enumerated(unnamed, 0, 300, 64 * w, true).c_str());
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
  answer("test key removed", "%s", openResult(HKEY_LOCAL_MACHINE, kRoot).c_str());
  return 0;
}
