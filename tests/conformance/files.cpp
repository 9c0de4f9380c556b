// Files and folder listings: _wfopen, GetFileAttributesW, FindFirstFileW/FindNextFileW/FindClose
// on device paths, as the log, the launcher and the folder windows and summaries use them.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "conformance.h"

using conformance::answer;
using conformance::answerText;
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
  answerText("_wfopen w a.txt", put(in(L"a.txt"), L"w", "one"));
  answerText("_wfopen a A.TXT appends to a.txt", put(in(L"A.TXT"), L"a", "two"));
  answerText("contents of a.txt after the append", contents(in(L"a.txt")));
  answerText("contents through \\CONF_FILES\\A.Txt", contents(L"\\CONF_FILES\\A.Txt"));
  answerText("_wfopen w NewName.TXT", put(in(L"NewName.TXT"), L"w", "n"));
  conformance::writeBytes(in(L"Mixed.Case").c_str(), "old");
  answerText("_wfopen w mixed.case over Mixed.Case", put(in(L"mixed.case"), L"w", "new"));
  answerText("contents of MIXED.CASE", contents(in(L"MIXED.CASE")));
  answerText("_wfopen r+ A.txt", open(in(L"A.txt"), L"r+"));
  answerText("listing after writes in other cases", names(in(L"*")));
}

void attributesOfPaths() {
  conformance::makeFolder(in(L"Sub").c_str());
  conformance::writeBytes(in(L"ro.txt").c_str(), "r");
  conformance::makeReadOnly(in(L"ro.txt").c_str());
  answerText("GetFileAttributesW file", attributes(in(L"a.txt")));
  answerText("GetFileAttributesW file in other case", attributes(in(L"A.TXT")));
  answerText("GetFileAttributesW read-only file", attributes(in(L"ro.txt")));
  answerText("GetFileAttributesW folder", attributes(in(L"Sub")));
  answerText("GetFileAttributesW folder in other case", attributes(in(L"sUB")));
  answerText("GetFileAttributesW folder with trailing backslash", attributes(in(L"Sub\\")));
  answerText("GetFileAttributesW file with trailing backslash", attributes(in(L"a.txt\\")));
  answerText("GetFileAttributesW missing file", attributes(in(L"missing.txt")));
  answerText("GetFileAttributesW file in missing folder", attributes(in(L"nofolder\\a.txt")));
  answerText("GetFileAttributesW below a file", attributes(in(L"a.txt\\x")));
  answerText("GetFileAttributesW empty path", attributes(L""));
  answerText("GetFileAttributesW forward slashes", attributes(L"\\conf_files/a.txt"));
  answerText("GetFileAttributesW doubled backslashes", attributes(L"\\conf_files\\\\a.txt"));
  answerText("GetFileAttributesW wildcard in name", attributes(in(L"a*.txt")));
  answerText("GetFileAttributesW question mark in name", attributes(in(L"a?txt")));
  std::wstring longName = in(std::wstring(300, L'x').c_str());
  answerText("GetFileAttributesW path of 312 characters", attributes(longName));
}

void dotsAndSpaces() {
  // Windows drops the trailing dots and spaces of the last name, and a single trailing dot of
  // any other; "." and ".." are taken apart by name, never beyond the root.
  answerText("GetFileAttributesW trailing dot", attributes(in(L"a.txt.")));
  answerText("GetFileAttributesW trailing dots and spaces", attributes(in(L"a.txt. . ")));
  answerText("GetFileAttributesW folder with trailing dot", attributes(L"\\conf_files.\\a.txt"));
  answerText("GetFileAttributesW folder with trailing space", attributes(L"\\conf_files \\a.txt"));
  answerText("GetFileAttributesW dot component", attributes(L"\\conf_files\\.\\a.txt"));
  answerText("GetFileAttributesW dotdot component", attributes(L"\\conf_files\\Sub\\..\\a.txt"));
  answerText("GetFileAttributesW dotdot through a missing folder",
             attributes(L"\\conf_files\\none\\..\\a.txt"));
  answerText("GetFileAttributesW dotdot above the root",
             attributes(L"\\..\\..\\conf_files\\a.txt"));
  answerText("GetFileAttributesW three dots", attributes(L"\\conf_files\\..."));
  answerText("_wfopen w name with trailing dot and space", put(in(L"dotted.txt ."), L"w", "d"));
  answerText("contents of dotted.txt", contents(in(L"dotted.txt")));
  answerText("_wfopen w through dotdot", put(L"\\conf_files\\Sub\\..\\up.txt", L"w", "u"));
  answerText("contents of up.txt", contents(in(L"up.txt")));
}

void streams() {
  answerText("_wfopen r folder", open(kRoot, L"r"));
  answerText("_wfopen rb folder", open(in(L"Sub"), L"rb"));
  answerText("_wfopen w folder", open(in(L"Sub"), L"w"));
  answerText("_wfopen a folder", open(in(L"Sub"), L"a"));
  answerText("_wfopen r missing file", open(in(L"missing.txt"), L"r"));
  answerText("_wfopen r+ missing file", open(in(L"missing.txt"), L"r+"));
  answerText("_wfopen w in missing folder", open(in(L"nofolder\\new.txt"), L"w"));
  // Binary streams: text mode writes "\r\n" on desktop Windows and "\n" here.
  answerText("_wfopen ab+ creates", put(in(L"log.txt"), L"ab+", "line\n"));
  answerText("_wfopen ab+ appends", put(in(L"LOG.txt"), L"ab+", "line\n"));
  answerText("contents of log.txt", contents(in(L"log.txt")));
  answerText("_wfopen wb+ truncates", put(in(L"Log.TXT"), L"wb+", "x"));
  answerText("contents of log.txt after wb+", contents(in(L"log.txt")));
  answerText("_wfopen r read-only file", open(in(L"RO.TXT"), L"r"));
  answerText("_wfopen r empty path", open(L"", L"r"));
  answerText("_wfopen w wildcard name", open(in(L"new*.txt"), L"w"));
}

void listings() {
  std::wstring find = in(L"find");
  conformance::freshFolder(find.c_str());
  conformance::makeFolder((find + L"\\empty").c_str());
  conformance::makeFolder((find + L"\\Folder.pwi").c_str());
  for (const WCHAR* name : {L"abc.pwi", L"AXC.PWI", L"b.pwi", L"abcd.pwi", L"ac.txt",
                            L"readme", L"note.pwi.bak", L"x.pwix"})
    conformance::writeBytes((find + L"\\" + name).c_str(), "12345");
  answerText("FindFirstFileW folder\\*", names(find + L"\\*"));
  answerText("FindFirstFileW folder\\*.*", names(find + L"\\*.*"));
  answer("FindFirstFileW folder\\* lists . and ..", "%s",
         list(find + L"\\*").dots ? "yes" : "no");
  answerText("FindFirstFileW folder\\*.pwi", names(find + L"\\*.pwi"));
  answerText("FindFirstFileW folder\\*.PWI", names(find + L"\\*.PWI"));
  answerText("FindFirstFileW folder\\a?c.*", names(find + L"\\a?c.*"));
  answerText("FindFirstFileW folder\\a*", names(find + L"\\a*"));
  answerText("FindFirstFileW folder\\*c.pwi", names(find + L"\\*c.pwi"));
  answerText("FindFirstFileW folder\\????", names(find + L"\\????"));
  answerText("FindFirstFileW folder\\readme.*", names(find + L"\\readme.*"));
  answerText("FindFirstFileW exact name in other case", names(find + L"\\B.PWI"));
  answerText("FindFirstFileW exact folder name", names(find + L"\\folder.PWI"));
  answerText("FindFirstFileW exact name missing", names(find + L"\\zzz.pwi"));
  answerText("FindFirstFileW pattern matching nothing", names(find + L"\\*.zzz"));
  answerText("FindFirstFileW folder name only", names(find));
  answerText("FindFirstFileW folder with trailing backslash", names(find + L"\\"));
  answerText("FindFirstFileW folder in other case", names(L"\\CONF_FILES\\FIND\\b*"));
  answerText("FindFirstFileW empty folder\\*", names(find + L"\\empty\\*"));
  answerText("FindFirstFileW empty folder\\*.pwi", names(find + L"\\empty\\*.pwi"));
  answerText("FindFirstFileW missing folder\\*", names(find + L"\\missing\\*"));
  answerText("FindFirstFileW below a file", names(find + L"\\b.pwi\\*"));
  answerText("FindFirstFileW wildcard in folder", names(L"\\conf_f*\\find\\*"));
  answerText("FindFirstFileW empty pattern", names(L""));
  answerText("FindNextFileW end", list(find + L"\\b.pwi").end);
  WIN32_FIND_DATAW data;
  SetLastError(conformance::kSentinel);
  answerText("FindNextFileW INVALID_HANDLE_VALUE",
             withLastError(FindNextFileW(INVALID_HANDLE_VALUE, &data) ? "TRUE" : "FALSE"));
  SetLastError(conformance::kSentinel);
  answerText("FindClose INVALID_HANDLE_VALUE",
             withLastError(FindClose(INVALID_HANDLE_VALUE) ? "TRUE" : "FALSE"));
  HANDLE handle = FindFirstFileW((find + L"\\*").c_str(), &data);
  SetLastError(conformance::kSentinel);
  answerText("FindClose open search", withLastError(FindClose(handle) ? "TRUE" : "FALSE"));
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
