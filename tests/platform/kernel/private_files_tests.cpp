// The device home's files and folders: its owner's alone whatever the umask, and never
// written through a link planted in place of one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/kernel/private_files.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

namespace fs = std::filesystem;
using PrivateFilesTest = ce::test::DeviceTest;

mode_t modeOf(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class Umask {
 public:
  explicit Umask(mode_t mask) : saved_(umask(mask)) {}
  ~Umask() { umask(saved_); }

 private:
  mode_t saved_;
};

// 022 would leave others reading; 0277 would leave the owner unable to write or list.
TEST_F(PrivateFilesTest, WhatIsCreatedIsTheOwnersAloneWhateverTheUmask) {
  for (mode_t mask : {022, 0277}) {
    Umask set(mask);
    std::string base = home() + "/made-under-" + std::to_string(mask);
    std::string error;
    ASSERT_TRUE(ce::makePrivateFolders(base + "/a/b", error)) << error;
    EXPECT_EQ(modeOf(base), 0700u);
    EXPECT_EQ(modeOf(base + "/a/b"), 0700u);
    int fd = ce::kernel::openPrivate(base + "/a/file", O_WRONLY | O_CREAT | O_APPEND);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    close(fd);
    EXPECT_EQ(modeOf(base + "/a/file"), 0600u);
    ASSERT_TRUE(ce::writePrivateFile(base + "/record", "1\n", error)) << error;
    EXPECT_EQ(modeOf(base + "/record"), 0600u);
  }
  // The path to a home may lead through a link, but not end in one that leads nowhere: that
  // is no folder made, and saying so would leave every later open to fail far from its cause.
  fs::create_directory_symlink(home() + "/nowhere", home() + "/dangling");
  std::string error;
  EXPECT_FALSE(ce::makePrivateFolders(home() + "/dangling", error));
  EXPECT_EQ(error, home() + "/dangling: " + std::strerror(ENOENT));
  // A file that is there keeps its mode: tightening an older home is the boot's decision.
  ce::test::writeFile(home() + "/kept", "x");
  ASSERT_EQ(chmod((home() + "/kept").c_str(), 0640), 0);
  int fd = ce::kernel::openPrivate(home() + "/kept", O_WRONLY | O_CREAT | O_APPEND);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(modeOf(home() + "/kept"), 0640u);
}

// A program started with its standard input closed is given descriptor 0 for the first file
// it opens, and that is a file like any other, not a failure.
TEST_F(PrivateFilesTest, DescriptorZeroIsAnOpenFile) {
  int saved = dup(STDIN_FILENO);
  ASSERT_GE(saved, 0);
  close(STDIN_FILENO);
  int fd = ce::kernel::openPrivate(home() + "/first", O_WRONLY | O_CREAT | O_APPEND);
  int error = errno;
  dup2(saved, STDIN_FILENO);  // closes the file, wherever it went
  close(saved);
  EXPECT_EQ(fd, 0) << std::strerror(error);
  EXPECT_EQ(modeOf(home() + "/first"), 0600u);
}

// (That the home and its folders are made private is DeviceHomeProcessTest's, under umask 022.)
TEST_F(PrivateFilesTest, TheDeviceHomesFoldersMayNotBeLinks) {
  std::string linked = home() + "/linked";
  fs::create_directories(linked);
  fs::create_directory_symlink(home() + "/elsewhere", linked + "/run");
  fs::create_directories(home() + "/elsewhere");
  setenv("CE_DEVICE_HOME", linked.c_str(), 1);
  ce::testing::reset();
  try {
    ce::deviceHome();
    ADD_FAILURE() << "a run/ that is a link was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("run: is a symbolic link"), std::string::npos)
        << e.what();
  }
  setenv("CE_DEVICE_HOME", home().c_str(), 1);
  ce::testing::reset();
}

TEST_F(PrivateFilesTest, ALinkOrAFifoInPlaceOfAFileIsRefusedAndNothingOutsideIsWritten) {
  const std::string outside = home() + "/outside";
  ce::test::writeFile(outside, "kept");
  const std::string link = home() + "/link";
  fs::create_symlink(outside, link);
  const std::string dangling = home() + "/dangling";
  fs::create_symlink(home() + "/nowhere", dangling);
  const std::string fifo = home() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  for (int flags :
       {O_RDONLY, O_WRONLY | O_APPEND, O_WRONLY | O_CREAT | O_TRUNC, O_RDWR | O_CREAT}) {
    errno = 0;
    EXPECT_EQ(ce::kernel::openPrivate(link, flags), -1) << flags;
    EXPECT_EQ(errno, ELOOP) << flags;
    EXPECT_EQ(ce::kernel::openPrivate(dangling, flags | O_CREAT), -1) << flags;
    // A FIFO would block an open for writing until a reader came: refused at once.
    errno = 0;
    EXPECT_EQ(ce::kernel::openPrivate(fifo, flags), -1) << flags;
    EXPECT_EQ(errno, EINVAL) << flags;
  }
  EXPECT_FALSE(fs::exists(home() + "/nowhere"));
  EXPECT_EQ(ce::kernel::privateOpenError(ELOOP), "is a symbolic link");

  // A record written over a link replaces the link; the file it pointed to stays as it was.
  std::string error;
  ASSERT_TRUE(ce::writePrivateFile(link, "record\n", error)) << error;
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(ce::test::readFile(link), "record\n");
  EXPECT_EQ(ce::test::readFile(outside), "kept");
}

// The log and the launcher open their files through _wfopen. (That what it creates is private
// is DeviceHomeProcessTest.TheHomeIsItsOwnersAloneUnderAnyUmaskAndAfterAnOlderVersion's.)
TEST_F(PrivateFilesTest, WfopenRefusesALinkInPlaceOfTheFileInEveryMode) {
  const std::string outside = home() + "/outside";
  ce::test::writeFile(outside, "kept");
  fs::create_symlink(outside, ce::fsRoot() + "/notlstnr.txt");
  for (const wchar_t* mode : {L"a+", L"a", L"w", L"r", L"r+"}) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(_wfopen(L"\\notlstnr.txt", mode), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(ce::test::readFile(outside), "kept");
}

TEST_F(PrivateFilesTest, TighteningTakesOthersPermissionsAwayButFollowsNoLink) {
  const std::string outside = home() + "/outside";
  ce::test::writeFile(outside, "x");
  ASSERT_EQ(chmod(outside.c_str(), 0644), 0);
  ce::deviceHome();
  fs::create_directories(ce::fsRoot() + "/My Documents");
  ce::test::writeFile(ce::systemDir() + "/registry.db", "");
  ce::test::writeFile(ce::runDir() + "/boot.log", "");
  ce::test::writeFile(ce::fsRoot() + "/notlstnr.txt", "");
  ce::test::writeFile(ce::fsRoot() + "/user-file", "");
  fs::create_symlink(outside, ce::systemDir() + "/link");
  for (const std::string& path : {home(), ce::systemDir(), ce::fsRoot() + "/My Documents"})
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  for (const std::string& path :
       {ce::systemDir() + "/registry.db", ce::runDir() + "/boot.log",
        ce::fsRoot() + "/notlstnr.txt", ce::fsRoot() + "/user-file"})
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  // An owner's own narrowing stays.
  ASSERT_EQ(chmod((ce::runDir() + "/boot.log").c_str(), 0444), 0);

  auto tightened = ce::tightenDeviceHome({"My Documents"}, {"notlstnr.txt"});
  EXPECT_EQ(tightened.size(), 6u);
  EXPECT_EQ(modeOf(home()), 0700u);
  EXPECT_EQ(modeOf(ce::systemDir()), 0700u);
  EXPECT_EQ(modeOf(ce::fsRoot() + "/My Documents"), 0700u);
  EXPECT_EQ(modeOf(ce::systemDir() + "/registry.db"), 0600u);
  EXPECT_EQ(modeOf(ce::runDir() + "/boot.log"), 0400u);
  EXPECT_EQ(modeOf(ce::fsRoot() + "/notlstnr.txt"), 0600u);
  EXPECT_EQ(modeOf(ce::fsRoot() + "/user-file"), 0644u);  // not the device's
  EXPECT_EQ(modeOf(outside), 0644u);
  EXPECT_TRUE(ce::tightenDeviceHome({"My Documents"}, {"notlstnr.txt"}).empty());
}

}  // namespace
