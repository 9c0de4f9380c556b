#include <filesystem>

#include "recording/file_type.h"
#include "tests/recording/listener_fixture.h"
#include "watchers/folder_change.h"
#include "watchers/folder_windows.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Device paths of entries of the three watched folders.
const std::wstring documents = L"\\My Documents\\";
std::wstring briefcase(const wchar_t* name) { return documents + L"Briefcase\\" + name; }
std::wstring notes(const wchar_t* name) { return documents + L"Notes\\" + name; }
std::wstring pictures(const wchar_t* name) { return documents + L"My Pictures\\" + name; }

class FolderWindowTest : public ce::test::ListenerTest {
 protected:
  // Hands the window a record as the shell would, for one path (and the new one of a rename).
  LRESULT notify(WNDPROC procedure, LONG event, const std::wstring& path,
                 const std::wstring& newPath = L"") {
    FILECHANGENOTIFY record{};
    record.fci.cbSize = sizeof record.fci;
    record.fci.wEventId = event;
    record.fci.dwItem1 = reinterpret_cast<DWORD_PTR>(path.c_str());
    record.fci.dwItem2 = newPath.empty() ? 0 : reinterpret_cast<DWORD_PTR>(newPath.c_str());
    return procedure(nullptr, WM_FILECHANGEINFO, 0, reinterpret_cast<LPARAM>(&record));
  }

  // The list after one change on a cleared list.
  std::string recorded(WNDPROC procedure, LONG event, const std::wstring& path,
                       const std::wstring& newPath = L"") {
    setValue("clientPushList", "0");
    notify(procedure, event, path, newPath);
    return list();
  }

  void touch(const std::string& deviceRelative) {
    ce::test::writeFile(hostPath("fs/" + deviceRelative), "x");
  }

  std::vector<std::string> info() {
    std::vector<std::string> kept;
    for (const auto& entry : log())
      if (entry.rfind("[DEBUG]", 0) != 0) kept.push_back(entry);
    return kept;
  }
};

TEST_F(FolderWindowTest, BriefcaseRecordsChangesAndSortsOutTemporaryFiles) {
  touch("My Documents/Briefcase/a.doc");
  EXPECT_EQ(notify(BriefcaseWndProc, SHCNE_CREATE, briefcase(L"a.doc")), 0);
  EXPECT_EQ(list(), "32");
  setValue("clientPushList", "0");
  notify(BriefcaseWndProc, SHCNE_CREATE, briefcase(L"~a.tmp"));   // already gone
  notify(BriefcaseWndProc, SHCNE_DELETE, briefcase(L"~a.tmp"));   // went away
  EXPECT_EQ(list(), "0");
  notify(BriefcaseWndProc, SHCNE_CREATE, briefcase(L"~b.tmp"));
  notify(BriefcaseWndProc, SHCNE_DELETE, briefcase(L"old.doc"));  // real
  EXPECT_EQ(list(), "32");
  EXPECT_EQ(recorded(BriefcaseWndProc, SHCNE_RENAMEITEM, briefcase(L"~b.tmp"),
                     briefcase(L"a.doc")), "32");
  notify(BriefcaseWndProc, SHCNE_UPDATEITEM, briefcase(L"a.doc"));
  EXPECT_THAT(info(), ElementsAre(
      "[INFO] - CP Briefcase: Creating Item...",
      "[INFO] - CP Briefcase: It is a new item inserted",
      "[INFO] - CP Briefcase: Creating Item...",
      "[INFO] - CP Briefcase: The file is a temporary file. It must not be signaled",
      "[INFO] - CP Briefcase: Deleting Item...",
      "[INFO] - CP Briefcase: Creating Item...",
      "[INFO] - CP Briefcase: The file is a temporary file. It must not be signaled",
      "[INFO] - CP Briefcase: Deleting Item...",
      "[INFO] - CP Briefcase: The item is really deleting...",
      "[INFO] - CP Briefcase: Renaming Item...",
      "[INFO] - CP Briefcase: It is a renaming of a temp file so a modification of original"));
}

TEST_F(FolderWindowTest, RenameIsRecordedBeforeItsKindIsLogged) {
  notify(BriefcaseWndProc, SHCNE_RENAMEITEM, briefcase(L"a"), L"\\x\\b");
  EXPECT_THAT(log(), ElementsAre(
      "[INFO] - CP Briefcase: Renaming Item...",
      "[DEBUG] - CP: Next scheduled sync of \\Program Files\\Quillbex\\startsync.exe will start "
      "at ' 2026-03-10 10.01.00'",
      "[INFO] - CP Briefcase: It is a renaming..."));
}

TEST_F(FolderWindowTest, NotesTakeOnlyNoteFilesByEitherPathOfARename) {
  EXPECT_EQ(recorded(NotesWndProc, SHCNE_CREATE, notes(L"x.txt")), "0");
  // Saved under a temporary name, then renamed to the note: a change of the note.
  EXPECT_EQ(recorded(NotesWndProc, SHCNE_RENAMEITEM, notes(L"memo.tmp"), notes(L"memo.pwi")), "16");
  EXPECT_EQ(recorded(NotesWndProc, SHCNE_RENAMEITEM, notes(L"memo.pwi"), notes(L"memo.bak")), "16");
  EXPECT_EQ(recorded(NotesWndProc, SHCNE_RENAMEITEM, notes(L"a.tmp"), notes(L"b.txt")), "0");
  EXPECT_EQ(recorded(NotesWndProc, SHCNE_DELETE, notes(L"gone.pwi")), "16");
  EXPECT_THAT(info(), ElementsAre(
      "[INFO] - CP note:  The \\My Documents\\Notes\\x.txt file is not a note: break",
      "[INFO] - CP note: Renaming Item...",
      "[INFO] - CP note: It is a renaming...",
      "[INFO] - CP note: Renaming Item...",
      "[INFO] - CP note: It is a renaming...",
      "[INFO] - CP note:  The \\My Documents\\Notes\\a.tmp file is not a note: break",
      "[INFO] - CP note:Deleting Item...",
      "[INFO] - The item is really deleting..."));
}

TEST_F(FolderWindowTest, PicturesDropWrongTypesAndJournalFiles) {
  touch("My Documents/My Pictures/IMG_01.JPG");
  notify(PictureWndProc, SHCNE_CREATE, pictures(L"IMG_01.JPG"));
  EXPECT_EQ(list(), "64");
  setValue("clientPushList", "0");
  notify(PictureWndProc, SHCNE_DELETE, pictures(L"thumbs.dat.jpg"));
  notify(PictureWndProc, SHCNE_DELETE, pictures(L"photo.jpg.bak"));
  notify(PictureWndProc, SHCNE_DELETE, L"\\Store.dat\\a.jpg");
  notify(PictureWndProc, SHCNE_RENAMEITEM, pictures(L"x.dat.jpg"), pictures(L"x.txt"));
  EXPECT_EQ(list(), "0");
  EXPECT_EQ(recorded(PictureWndProc, SHCNE_RENAMEITEM, pictures(L"x.dat.jpg"),
                     pictures(L"x.jpg")), "64");
  auto lines = info();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "[INFO] - CP picture:  The \\My Documents\\My Pictures\\photo.jpg.bak file "
                      "is not a picture: break");
  EXPECT_EQ(lines[3], "[INFO] - CP Picture: Renaming Item...");
}

// A name the device's buffer cannot hold still changes its folder, whose bit needs no name:
// the change is recorded beside the error line, and only the type filters read the name.
TEST_F(FolderWindowTest, MissingRecordsAreReportedAndLongNamesStillRecorded) {
  for (WNDPROC procedure : {BriefcaseWndProc, NotesWndProc, PictureWndProc})
    EXPECT_EQ(procedure(nullptr, WM_FILECHANGEINFO, 0, 0), 0);
  EXPECT_EQ(list(), "");
  const std::wstring longName = L"\\My Documents\\Briefcase\\" + std::wstring(240, L'a') + L".pwi";
  for (WNDPROC procedure : {BriefcaseWndProc, NotesWndProc, PictureWndProc})
    EXPECT_EQ(notify(procedure, SHCNE_CREATE, longName), 0);  // gone, yet not held as temporary
  EXPECT_EQ(list(), "48");
  const std::wstring longText = longName.substr(0, longName.size() - 4) + L".txt";
  EXPECT_EQ(recorded(NotesWndProc, SHCNE_CREATE, longText), "0");
  // The error line alone: a name the buffer cannot hold is never printed as of a wrong type.
  EXPECT_THAT(ce::test::entriesStartingWith(log(), {"CP note:  The", "CP picture:  The"}),
              IsEmpty());
  EXPECT_EQ(recorded(BriefcaseWndProc, SHCNE_DELETE, longName), "32");
  // Exactly the buffer (259 characters and the terminator) still fits, and is judged as usual.
  std::wstring fits = L"\\" + std::wstring(MAX_PATH - 6, L'b') + L".doc";
  ASSERT_EQ(fits.size(), static_cast<size_t>(MAX_PATH - 1));
  EXPECT_EQ(recorded(BriefcaseWndProc, SHCNE_CREATE, fits), "0");
  EXPECT_THAT(ce::test::entriesStartingWith(log(), {"CP", "Problem"}), testing::IsSupersetOf({
      "[ERROR] - CP Briefcase: error notify briefcase change",
      "[ERROR] - CP Briefcase: Insufficient buffer to get the file name",
      "[ERROR] - CP note: error notify briefcase change",
      "[ERROR] - CP note:Insufficient buffer to get the file name",
      "[ERROR] - CP Picture: error notify picture change",
      "[ERROR] - CP Picture: Insufficient buffer to get the file name"}));
}

// A name of exactly MAX_PATH characters leaves no room for the terminator: as too long as one
// more. (mingw's swprintf answers the length it would have written, msvcrt's fills the buffer
// without a terminator; a check for a negative answer alone takes either for a whole name.)
TEST_F(FolderWindowTest, ANameOfExactlyTheBufferIsTooLong) {
  const std::wstring full = L"\\" + std::wstring(MAX_PATH - 5, L'b') + L".doc";
  ASSERT_EQ(full.size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(recorded(BriefcaseWndProc, SHCNE_CREATE, full), "32");
  EXPECT_THAT(info(),
              ElementsAre("[ERROR] - CP Briefcase: Insufficient buffer to get the file name"));
}

// The folder as a whole may have changed: its source is signalled whatever its file types.
TEST_F(FolderWindowTest, LostChangesAndAFolderGoneOrBackSignalTheFolder) {
  notify(NotesWndProc, SHCNE_UPDATEDIR, L"\\My Documents\\Notes");
  notify(PictureWndProc, SHCNE_UPDATEDIR, L"\\My Documents\\My Pictures");
  EXPECT_EQ(list(), "80");
  EXPECT_EQ(recorded(PictureWndProc, SHCNE_RMDIR, L"\\My Documents\\My Pictures"), "64");
  EXPECT_EQ(recorded(BriefcaseWndProc, SHCNE_MKDIR, L"\\My Documents\\Briefcase"), "32");
  EXPECT_THAT(info(), ElementsAre(
      "[INFO] - CP note: Folder changes lost, signalling the folder",
      "[INFO] - CP Picture: Folder changes lost, signalling the folder",
      "[INFO] - CP Picture: Folder removed or moved away, signalling the folder",
      "[INFO] - CP Briefcase: Folder back and watched again, signalling the folder"));
}

TEST_F(FolderWindowTest, CloseAndDestroyOnlyEndTheLoop) {
  EXPECT_EQ(BriefcaseWndProc(nullptr, WM_CLOSE, 0, 0), 0);
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(PictureWndProc(nullptr, WM_DESTROY, 0, 0), 0);
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_THAT(log(), IsEmpty());
}

// "report." and "draft " exist on the host, but the device looks them up without the trailing
// dot or space and finds nothing: taken for temporary files already gone, they were never
// recorded. Recorded now, and a deletion of one still counts.
TEST_F(FolderWindowTest, BriefcaseFilesEndingInADotOrASpaceAreRecorded) {
  const std::pair<const char*, const wchar_t*> names[] = {
      {"report.", L"report."}, {"draft ", L"draft "}, {"both. ", L"both. "}};
  for (auto [hostName, name] : names) {
    touch(std::string("My Documents/Briefcase/") + hostName);
    EXPECT_EQ(recorded(BriefcaseWndProc, SHCNE_CREATE, briefcase(name)), "32");
    EXPECT_EQ(recorded(BriefcaseWndProc, SHCNE_DELETE, briefcase(name)), "32");
  }
}

using FolderChangeTest = ce::test::DeviceTest;

// What the window procedures do with each decision is FolderWindowTest's; here, how temporary
// files are matched: by exact name, one entry at a time, leaving nothing behind.
TEST_F(FolderChangeTest, TemporaryFilesAreMatchedExactlyAndOnce) {
  PendingTempFiles pending;
  EXPECT_EQ(decideFolderChange(SHCNE_CREATE, L"\\B\\~tmp", false, pending),
            FolderChange::temporaryCreated);
  EXPECT_EQ(decideFolderChange(SHCNE_DELETE, L"\\B\\~TMP", false, pending), FolderChange::deleted);
  EXPECT_EQ(decideFolderChange(SHCNE_DELETE, L"\\B\\~tmp", false, pending),
            FolderChange::temporaryDeleted);
  EXPECT_THAT(pending, IsEmpty());

  pending = {L"\\B\\t", L"\\B\\T", L"\\B\\t"};
  EXPECT_EQ(decideFolderChange(SHCNE_RENAMEITEM, L"\\B\\t", false, pending),
            FolderChange::renamedTempFile);
  for (LONG kind : {SHCNE_UPDATEITEM, SHCNE_RENAMEFOLDER, 0L, 3L})
    EXPECT_EQ(decideFolderChange(kind, L"\\B\\t", false, pending), FolderChange::ignored) << kind;
  EXPECT_THAT(pending, ElementsAre(L"\\B\\T", L"\\B\\t"));
}

TEST_F(FolderChangeTest, FileTypesByExtension) {
  const std::pair<const wchar_t*, int> cases[] = {
      {L"\\N\\x.PWI", 601},        {L"\\P\\x.Png", 604},         {L"\\P\\a.b.jpeg", 604},
      {L"\\P\\c.gif", 604},        {L"\\P\\photo.jpg.bak", 0},   {L"\\P\\photo", 0},
      {L"\\P\\x.", 0},             {L"\\Album.jpg\\file", 0},    {L"\\P\\.jpg", 604},
      {L"\\P\\x.pwix", 0},         {L"\\P\\x.jp", 0},            {L"\\P\\caf\u00e9.jpg", 604},
      {L"\\P\\x.j\u00c9pg", 0},
  };
  for (auto [path, code] : cases) EXPECT_EQ(getFileTypeCode(path), code) << path;
  EXPECT_EQ(getFileTypeCode(nullptr), 0);
}

}  // namespace
