// A fresh temporary device home and reset platform state for every test.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace ce::test {

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& home() const { return home_; }
  std::string hostPath(const std::string& relative) const { return home_ + "/" + relative; }

 private:
  std::string home_;
};

// Waits until `condition` holds or `deadline` passes; true when it held.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Waits until the file at `path` holds `text`; true when it did.
bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds deadline = std::chrono::seconds(30));

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// Directory of the test binaries (apps live next door in the build tree).
std::string buildDir();
// How many files and other objects this process holds open: its descriptors on Linux, its
// handles on Windows (where /proc under Wine lists the Wine process's own, which come and go).
int openHandles();

}  // namespace ce::test
