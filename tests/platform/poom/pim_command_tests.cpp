#include <cstdio>
#include <string>
#include <vector>

#include "platform/device.h"
#include "tests/support/device_test.h"
#include "tests/support/tool_run.h"

namespace {

class PimCommandTest : public ce::test::DeviceTest {
 protected:
  // An empty device: the tool works on existing devices only.
  void SetUp() override {
    ce::test::DeviceTest::SetUp();
    ce::deviceHome();
  }

  using Run = ce::test::ToolRun;

  // Runs `cedevice pim ARGS...` on this test's device.
  Run pim(std::vector<std::string> args) {
    args.insert(args.begin(), "pim");
    return ce::test::runCedevice(home(), args);
  }
};

TEST_F(PimCommandTest, ItemsAreAddedChangedListedAndDeleted) {
  Run added = pim({"add", "contact", "Ann O'Example"});
  ASSERT_EQ(added.exitCode, 0) << added.err;
  unsigned contact = static_cast<unsigned>(std::stoul(added.out));
  EXPECT_EQ(added.out, std::to_string(contact) + "\n");
  ASSERT_EQ(pim({"add", "task", "line\none"}).exitCode, 0);

  Run listed = pim({"list", "contacts"});
  ASSERT_EQ(listed.exitCode, 0);
  ASSERT_EQ(listed.out.rfind(std::to_string(contact) + "\tcontacts\t", 0), 0u) << listed.out;
  EXPECT_NE(listed.out.find("\tAnn O'Example\n"), std::string::npos) << listed.out;
  listed = pim({"list"});
  EXPECT_NE(listed.out.find("\ttasks\t"), std::string::npos);
  EXPECT_NE(listed.out.find("line\\x0aone\n"), std::string::npos) << listed.out;

  EXPECT_EQ(pim({"change", std::to_string(contact), "Bob"}).exitCode, 0);
  EXPECT_EQ(pim({"change", std::to_string(contact)}).exitCode, 0);
  EXPECT_NE(pim({"list", "contacts"}).out.find("\tBob\n"), std::string::npos);
  EXPECT_EQ(pim({"delete", std::to_string(contact)}).exitCode, 0);
  EXPECT_EQ(pim({"list", "contacts"}).out, "");
}

TEST_F(PimCommandTest, UnknownIdsAndBadInputAreClearErrors) {
  Run missing = pim({"change", "999"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "cedevice: no item has the id 999\n");
  EXPECT_EQ(pim({"delete", "999"}).exitCode, 1);
  Run notUtf8 = pim({"add", "contact", "caf\xe9"});
  EXPECT_EQ(notUtf8.exitCode, 1);
  EXPECT_NE(notUtf8.err.find("UTF-8"), std::string::npos) << notUtf8.err;

  for (const auto& usage : std::vector<std::vector<std::string>>{
           {}, {"add", "note", "x"}, {"add", "contact"}, {"change"}, {"change", "abc"},
           {"change", "-1"}, {"delete", "4294967296"}, {"list", "notes"}}) {
    Run run = pim(usage);
    EXPECT_EQ(run.exitCode, 2) << (usage.empty() ? "" : usage[0]) << " " << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(pim({"list"}).out, "");  // nothing was stored
}

}  // namespace
