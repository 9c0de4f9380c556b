// Files and folder listings: _wfopen, GetFileAttributesW, FindFirstFileW/FindNextFileW/FindClose
// on device paths, as the log, the launcher and the folder windows and summaries use them.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "conformance.h"

using conformance::answer;
using conformance::text;

namespace {

constexpr const WCHAR* kRoot = L"\\conf_files";

std::string withLastError(const char* outcome) {
  char line[64];
  std::snprintf(line, sizeof line, "%s err=%lu", outcome,
                static_cast<unsigned long>(GetLastError()));
  return line;
}

// the attributes of a path in hex, or the error that stands for "none"
std::string attributes(const std::wstring& path) {
  SetLastError(conformance::kSentinel);
  DWORD value = GetFileAttributesW(path.c_str());
  if (value == INVALID_FILE_ATTRIBUTES) return withLastError("invalid");
  char line[32];
  std::snprintf(line, sizeof line, "%lx", static_cast<unsigned long>(value));
  return line;
}

// what a stream opened with `mode` reads, or the error that stopped it
std::string contents(const std::wstring& path) {
  SetLastError(conformance::kSentinel);
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return withLastError("null");
  std::string bytes;
  char chunk[256];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  std::fclose(file);
  std::string shown;
  for (char c : bytes)
    shown += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
  return "\"" + shown + "\"";
}

// opens, writes `bytes` and closes: "ok", or the error of the open
std::string put(const std::wstring& path, const WCHAR* mode, const char* bytes) {
  SetLastError(conformance::kSentinel);
  FILE* file = _wfopen(path.c_str(), mode);
  if (!file) return withLastError("null");
  std::fputs(bytes, file);
  return std::fclose(file) == 0 ? "ok" : "close failed";
}

std::string open(const std::wstring& path, const WCHAR* mode) {
  SetLastError(conformance::kSentinel);
  FILE* file = _wfopen(path.c_str(), mode);
  if (!file) return withLastError("null");
  std::fclose(file);
  return "stream";
}

struct Listing {
  std::vector<std::string> names;  // sorted, without "." and ".."
  bool dots = false;               // "." or ".." was listed
  std::string failure;             // set when FindFirstFileW failed
  std::string end;                 // how FindNextFileW ended
};

Listing list(const std::wstring& pattern) {
  Listing result;
  WIN32_FIND_DATAW data;
  SetLastError(conformance::kSentinel);
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    result.failure = withLastError("invalid");
    return result;
  }
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") {
      result.dots = true;
      continue;
    }
    char line[MAX_PATH * 4 + 32];
    std::snprintf(line, sizeof line, "%s(%lx,%lu)", text(data.cFileName).c_str(),
                  static_cast<unsigned long>(data.dwFileAttributes),
                  static_cast<unsigned long>(data.nFileSizeLow));
    result.names.push_back(line);
    SetLastError(conformance::kSentinel);
  } while (FindNextFileW(find, &data));
  result.end = withLastError("end");
  FindClose(find);
  std::sort(result.names.begin(), result.names.end());
  return result;
}

// "name(attributes,size) ..." of what a pattern lists, "." and ".." aside
std::string names(const std::wstring& pattern) {
  Listing listing = list(pattern);
  if (!listing.failure.empty()) return listing.failure;
  std::string line;
  for (const auto& name : listing.names) line += (line.empty() ? "" : " ") + name;
  return line.empty() ? "(only dots)" : line;
}

std::wstring in(const WCHAR* name) { return std::wstring(kRoot) + L"\\" + name; }

void caseOfNames() {
  // The device compares names without regard to case and keeps the case a name was made with.
  answer("_wfopen w a.txt", "%s", put(in(L"a.txt"), L"w", "one").c_str());
  answer("_wfopen a A.TXT appends to a.txt", "%s",
         put(in(L"A.TXT"), L"a", "two").c_str());
  answer("contents of a.txt after the append", "%s", contents(in(L"a.txt")).c_str());
  answer("contents through \\CONF_FILES\\A.Txt", "%s",
         contents(L"\\CONF_FILES\\A.Txt").c_str());
  answer("_wfopen w NewName.TXT", "%s", put(in(L"NewName.TXT"), L"w", "n").c_str());
  conformance::writeBytes(in(L"Mixed.Case").c_str(), "old");
  answer("_wfopen w mixed.case over Mixed.Case", "%s",
         put(in(L"mixed.case"), L"w", "new").c_str());
  answer("contents of MIXED.CASE", "%s", contents(in(L"MIXED.CASE")).c_str());
  answer("_wfopen r+ A.txt", "%s", open(in(L"A.txt"), L"r+").c_str());
  answer("listing after writes in other cases", "%s", names(in(L"*")).c_str());
}

void attributesOfPaths() {
  conformance::makeFolder(in(L"Sub").c_str());
  conformance::writeBytes(in(L"ro.txt").c_str(), "r");
  conformance::makeReadOnly(in(L"ro.txt").c_str());
  answer("GetFileAttributesW file", "%s", attributes(in(L"a.txt")).c_str());
  answer("GetFileAttributesW file in other case", "%s", attributes(in(L"A.TXT")).c_str());
  answer("GetFileAttributesW read-only file", "%s", attributes(in(L"ro.txt")).c_str());
  answer("GetFileAttributesW folder", "%s", attributes(in(L"Sub")).c_str());
  answer("GetFileAttributesW folder in other case", "%s", attributes(in(L"sUB")).c_str());
  answer("GetFileAttributesW folder with trailing backslash", "%s",
         attributes(in(L"Sub\\")).c_str());
  answer("GetFileAttributesW file with trailing backslash", "%s",
         attributes(in(L"a.txt\\")).c_str());
  answer("GetFileAttributesW missing file", "%s", attributes(in(L"missing.txt")).c_str());
  answer("GetFileAttributesW file in missing folder", "%s",
         attributes(in(L"nofolder\\a.txt")).c_str());
  answer("GetFileAttributesW below a file", "%s", attributes(in(L"a.txt\\x")).c_str());
  answer("GetFileAttributesW empty path", "%s", attributes(L"").c_str());
  answer("GetFileAttributesW forward slashes", "%s", attributes(L"\\conf_files/a.txt").c_str());
  answer("GetFileAttributesW doubled backslashes", "%s",
         attributes(L"\\conf_files\\\\a.txt").c_str());
  answer("GetFileAttributesW wildcard in name", "%s", attributes(in(L"a*.txt")).c_str());
  answer("GetFileAttributesW question mark in name", "%s",
         attributes(in(L"a?txt")).c_str());
  std::wstring longName = in(std::wstring(300, L'x').c_str());
  answer("GetFileAttributesW path of 312 characters", "%s", attributes(longName).c_str());
}

void dotsAndSpaces() {
  // Windows drops the trailing dots and spaces of the last name, and a single trailing dot of
  // any other; "." and ".." are taken apart by name, never beyond the root.
  answer("GetFileAttributesW trailing dot", "%s", attributes(in(L"a.txt.")).c_str());
  answer("GetFileAttributesW trailing dots and spaces", "%s",
         attributes(in(L"a.txt. . ")).c_str());
  answer("GetFileAttributesW folder with trailing dot", "%s",
         attributes(L"\\conf_files.\\a.txt").c_str());
  answer("GetFileAttributesW folder with trailing space", "%s",
         attributes(L"\\conf_files \\a.txt").c_str());
  answer("GetFileAttributesW dot component", "%s", attributes(L"\\conf_files\\.\\a.txt").c_str());
  answer("GetFileAttributesW dotdot component", "%s",
         attributes(L"\\conf_files\\Sub\\..\\a.txt").c_str());
  answer("GetFileAttributesW dotdot through a missing folder", "%s",
         attributes(L"\\conf_files\\none\\..\\a.txt").c_str());
  answer("GetFileAttributesW dotdot above the root", "%s",
         attributes(L"\\..\\..\\conf_files\\a.txt").c_str());
  answer("GetFileAttributesW three dots", "%s", attributes(L"\\conf_files\\...").c_str());
  answer("_wfopen w name with trailing dot and space", "%s",
         put(in(L"dotted.txt ."), L"w", "d").c_str());
  answer("contents of dotted.txt", "%s", contents(in(L"dotted.txt")).c_str());
  answer("_wfopen w through dotdot", "%s",
         put(L"\\conf_files\\Sub\\..\\up.txt", L"w", "u").c_str());
  answer("contents of up.txt", "%s", contents(in(L"up.txt")).c_str());
}

void streams() {
  answer("_wfopen r folder", "%s", open(kRoot, L"r").c_str());
  answer("_wfopen rb folder", "%s", open(in(L"Sub"), L"rb").c_str());
  answer("_wfopen w folder", "%s", open(in(L"Sub"), L"w").c_str());
  answer("_wfopen a folder", "%s", open(in(L"Sub"), L"a").c_str());
  answer("_wfopen r missing file", "%s", open(in(L"missing.txt"), L"r").c_str());
  answer("_wfopen r+ missing file", "%s", open(in(L"missing.txt"), L"r+").c_str());
  answer("_wfopen w in missing folder", "%s",
         open(in(L"nofolder\\new.txt"), L"w").c_str());
  // Binary streams: text mode writes "\r\n" on desktop Windows and "\n" here.
  answer("_wfopen ab+ creates", "%s", put(in(L"log.txt"), L"ab+", "line\n").c_str());
  answer("_wfopen ab+ appends", "%s", put(in(L"LOG.txt"), L"ab+", "line\n").c_str());
  answer("contents of log.txt", "%s", contents(in(L"log.txt")).c_str());
  answer("_wfopen wb+ truncates", "%s", put(in(L"Log.TXT"), L"wb+", "x").c_str());
  answer("contents of log.txt after wb+", "%s", contents(in(L"log.txt")).c_str());
  answer("_wfopen r read-only file", "%s", open(in(L"RO.TXT"), L"r").c_str());
  answer("_wfopen r empty path", "%s", open(L"", L"r").c_str());
  answer("_wfopen w wildcard name", "%s", open(in(L"new*.txt"), L"w").c_str());
}

void listings() {
  std::wstring find = in(L"find");
  conformance::freshFolder(find.c_str());
  conformance::makeFolder((find + L"\\empty").c_str());
  conformance::makeFolder((find + L"\\Folder.pwi").c_str());
  for (const WCHAR* name : {L"abc.pwi", L"AXC.PWI", L"b.pwi", L"abcd.pwi", L"ac.txt",
                            L"readme", L"note.pwi.bak", L"x.pwix"})
    conformance::writeBytes((find + L"\\" + name).c_str(), "12345");
  answer("FindFirstFileW folder\\*", "%s", names(find + L"\\*").c_str());
  answer("FindFirstFileW folder\\*.*", "%s", names(find + L"\\*.*").c_str());
  answer("FindFirstFileW folder\\* lists . and ..", "%s",
         list(find + L"\\*").dots ? "yes" : "no");
  answer("FindFirstFileW folder\\*.pwi", "%s", names(find + L"\\*.pwi").c_str());
  answer("FindFirstFileW folder\\*.PWI", "%s", names(find + L"\\*.PWI").c_str());
  answer("FindFirstFileW folder\\a?c.*", "%s", names(find + L"\\a?c.*").c_str());
  answer("FindFirstFileW folder\\a*", "%s", names(find + L"\\a*").c_str());
  answer("FindFirstFileW folder\\*c.pwi", "%s", names(find + L"\\*c.pwi").c_str());
  answer("FindFirstFileW folder\\????", "%s", names(find + L"\\????").c_str());
  answer("FindFirstFileW folder\\readme.*", "%s", names(find + L"\\readme.*").c_str());
  answer("FindFirstFileW exact name in other case", "%s", names(find + L"\\B.PWI").c_str());
  answer("FindFirstFileW exact folder name", "%s", names(find + L"\\folder.PWI").c_str());
  answer("FindFirstFileW exact name missing", "%s", names(find + L"\\zzz.pwi").c_str());
  answer("FindFirstFileW pattern matching nothing", "%s", names(find + L"\\*.zzz").c_str());
  answer("FindFirstFileW folder name only", "%s", names(find).c_str());
  answer("FindFirstFileW folder with trailing backslash", "%s", names(find + L"\\").c_str());
  answer("FindFirstFileW folder in other case", "%s", names(L"\\CONF_FILES\\FIND\\b*").c_str());
  answer("FindFirstFileW empty folder\\*", "%s", names(find + L"\\empty\\*").c_str());
  answer("FindFirstFileW empty folder\\*.pwi", "%s", names(find + L"\\empty\\*.pwi").c_str());
  answer("FindFirstFileW missing folder\\*", "%s", names(find + L"\\missing\\*").c_str());
  answer("FindFirstFileW below a file", "%s", names(find + L"\\b.pwi\\*").c_str());
  answer("FindFirstFileW wildcard in folder", "%s", names(L"\\conf_f*\\find\\*").c_str());
  answer("FindFirstFileW empty pattern", "%s", names(L"").c_str());
  answer("FindNextFileW end", "%s", list(find + L"\\b.pwi").end.c_str());
  WIN32_FIND_DATAW data;
  SetLastError(conformance::kSentinel);
  answer("FindNextFileW INVALID_HANDLE_VALUE", "%s",
         withLastError(FindNextFileW(INVALID_HANDLE_VALUE, &data) ? "TRUE" : "FALSE").c_str());
  SetLastError(conformance::kSentinel);
  answer("FindClose INVALID_HANDLE_VALUE", "%s",
         withLastError(FindClose(INVALID_HANDLE_VALUE) ? "TRUE" : "FALSE").c_str());
  HANDLE handle = FindFirstFileW((find + L"\\*").c_str(), &data);
  SetLastError(conformance::kSentinel);
  answer("FindClose open search", "%s",
         withLastError(FindClose(handle) ? "TRUE" : "FALSE").c_str());
}

}  // namespace

int main() {
  if (!conformance::freshFolder(kRoot)) {
    answer("setup", "cannot make %s", text(kRoot).c_str());
    return 1;
  }
  caseOfNames();
  attributesOfPaths();
  dotsAndSpaces();
  streams();
  listings();
  conformance::removeTree(kRoot);
  return 0;
}
