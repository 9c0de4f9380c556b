#include "recording/file_type.h"
#include "watchers/folder_change.h"
#include "tests/support/device_test.h"

namespace {

using FolderChangeTest = ce::test::DeviceTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

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
