#include "recording/file_type.h"
#include "watchers/folder_change.h"
#include "tests/support/device_test.h"

namespace {

using FolderChangeTest = ce::test::DeviceTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(FolderChangeTest, CreationsAreRecordedOrHeldAsTemporary) {
  PendingTempFiles pending;
  EXPECT_EQ(decideFolderChange(SHCNE_CREATE, L"\\B\\a.txt", true, pending), FolderChange::created);
  EXPECT_THAT(pending, IsEmpty());
  EXPECT_EQ(decideFolderChange(SHCNE_CREATE, L"\\B\\~tmp", false, pending),
            FolderChange::temporaryCreated);
  EXPECT_THAT(pending, ElementsAre(L"\\B\\~tmp"));
  EXPECT_TRUE(recordsChange(FolderChange::created));
  EXPECT_FALSE(recordsChange(FolderChange::temporaryCreated));
}

TEST_F(FolderChangeTest, RenameTakesOnlyTheFirstExactMatch) {
  PendingTempFiles pending{L"\\B\\t", L"\\B\\T", L"\\B\\t"};
  EXPECT_EQ(decideFolderChange(SHCNE_RENAMEITEM, L"\\B\\x", false, pending), FolderChange::renamed);
  EXPECT_EQ(decideFolderChange(SHCNE_RENAMEITEM, L"\\B\\t", false, pending),
            FolderChange::renamedTempFile);
  EXPECT_THAT(pending, ElementsAre(L"\\B\\T", L"\\B\\t"));
  EXPECT_TRUE(recordsChange(FolderChange::renamed));
  EXPECT_TRUE(recordsChange(FolderChange::renamedTempFile));
}

// A temporary file that goes away leaves the list; it must not block other deletions.
TEST_F(FolderChangeTest, DeletionsAreRecordedUnlessATemporaryFileWentAway) {
  PendingTempFiles pending;
  decideFolderChange(SHCNE_CREATE, L"\\B\\~tmp", false, pending);
  EXPECT_EQ(decideFolderChange(SHCNE_DELETE, L"\\B\\real.doc", false, pending),
            FolderChange::deleted);
  EXPECT_THAT(pending, ElementsAre(L"\\B\\~tmp"));
  EXPECT_EQ(decideFolderChange(SHCNE_DELETE, L"\\B\\~TMP", false, pending), FolderChange::deleted);
  EXPECT_EQ(decideFolderChange(SHCNE_DELETE, L"\\B\\~tmp", false, pending),
            FolderChange::temporaryDeleted);
  EXPECT_THAT(pending, IsEmpty());
  EXPECT_FALSE(recordsChange(FolderChange::temporaryDeleted));
  // Ten thousand temporary saves leave nothing behind.
  for (int i = 0; i < 10000; ++i) {
    std::wstring name = L"\\B\\~" + std::to_wstring(i);
    decideFolderChange(SHCNE_CREATE, name, false, pending);
    decideFolderChange(SHCNE_DELETE, name, false, pending);
  }
  EXPECT_THAT(pending, IsEmpty());
}

// The shell reports these three on the watched folder itself, never on a subfolder: the
// listener's windows do not ask for folder events.
TEST_F(FolderChangeTest, WholeFolderEventsAreRecordedAndOtherKindsIgnored) {
  PendingTempFiles pending{L"\\B\\t"};
  EXPECT_EQ(decideFolderChange(SHCNE_UPDATEDIR, L"\\B", false, pending), FolderChange::changesLost);
  EXPECT_EQ(decideFolderChange(SHCNE_RMDIR, L"\\B", false, pending), FolderChange::folderGone);
  EXPECT_EQ(decideFolderChange(SHCNE_MKDIR, L"\\B", true, pending), FolderChange::folderBack);
  for (FolderChange change :
       {FolderChange::changesLost, FolderChange::folderGone, FolderChange::folderBack})
    EXPECT_TRUE(recordsChange(change));
  for (LONG kind : {SHCNE_UPDATEITEM, SHCNE_RENAMEFOLDER, 0L, 3L})
    EXPECT_EQ(decideFolderChange(kind, L"\\B\\t", false, pending), FolderChange::ignored) << kind;
  EXPECT_THAT(pending, ElementsAre(L"\\B\\t"));
}

TEST_F(FolderChangeTest, FileTypesByExtension) {
  const std::pair<const wchar_t*, int> cases[] = {
      {L"\\N\\x.PWI", 601},        {L"\\N\\memo.pwi", 601},     {L"\\P\\x.Png", 604},
      {L"\\P\\IMG_01.JPG", 604},   {L"\\P\\a.b.jpeg", 604},     {L"\\P\\c.gif", 604},
      {L"\\P\\photo.jpg.bak", 0},  {L"\\P\\photo", 0},          {L"\\P\\x.", 0},
      {L"\\Album.jpg\\file", 0},   {L"\\P\\.jpg", 604},         {L"\\P\\x.pwix", 0},
      {L"\\P\\x.jp", 0},           {L"\\P\\caf\u00e9.jpg", 604}, {L"\\P\\x.j\u00c9pg", 0},
  };
  for (auto [path, code] : cases) EXPECT_EQ(getFileTypeCode(path), code) << path;
  EXPECT_EQ(getFileTypeCode(nullptr), 0);
}

}  // namespace
