#include <memory>
#include <string>

#include "config/element_list.h"
#include "config/string_buffer.h"
#include "tests/support/device_test.h"

namespace {

using ValueTypesTest = ce::test::DeviceTest;

TEST_F(ValueTypesTest, NullEmptyAndTextStayApart) {
  StringBuffer null, empty(""), text("abc");
  EXPECT_EQ(null.c_str(), nullptr);
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_TRUE(null.equals(nullptr) && !empty.equals(nullptr) && !null.equals(""));
  EXPECT_TRUE(StringBuffer("abc", 2) == "ab");
  std::unique_ptr<ArrayElement> clone(null.clone());
  EXPECT_EQ(static_cast<StringBuffer*>(clone.get())->c_str(), nullptr);

  // Texts that are the buffer's own, through a reallocation.
  StringBuffer b = text;
  b.assign(b.c_str() + 1);
  EXPECT_TRUE(b == "bc");
  StringBuffer n;
  n.append("xyz", 0);
  EXPECT_EQ(n.c_str(), nullptr);
  n.append("xy!", StringBuffer::npos);
  n.append(n.c_str());
  EXPECT_TRUE(n == "xy!xy!");

  EXPECT_FALSE(null.endsWith('/') || empty.endsWith('/'));
  EXPECT_TRUE(text.substr(3, 5) == "" && text.substr(4, 1) == "" && null.substr(0) == "");
  EXPECT_TRUE(text.substr(1) == "bc" && text.substr(0, 2) == "ab");
}

TEST_F(ValueTypesTest, FormattingGrowsToTheResult) {
  StringBuffer b;
  std::string big(1024 * 1024 + 17, 'm');
  b.sprintf("<%s>", big.c_str());
  EXPECT_EQ(std::string(b.c_str()), "<" + big + ">");
  b.sprintf("%d", 7);
  EXPECT_TRUE(b == "7");

  StringBuffer path("dir");  // an argument that is the buffer itself
  path.sprintf("%s\\%s", path.c_str(), std::string(300, 'z').c_str());
  EXPECT_EQ(std::string(path.c_str()), "dir\\" + std::string(300, 'z'));

  // a wide argument the formatter cannot encode is an error, not an endless doubling
  const wchar_t lone[] = {static_cast<wchar_t>(0xD800), 0};
  path.sprintf("%ls", lone);
  EXPECT_EQ(path.c_str(), nullptr);
  const char* noFormat = nullptr;
  b.sprintf(noFormat);
  EXPECT_EQ(b.c_str(), nullptr);
}

TEST_F(ValueTypesTest, FindRfindAndReplace) {
  EXPECT_EQ(StringBuffer("abc").find("b", 3), -1);
  EXPECT_EQ(StringBuffer("aaa").rfind("aa", 0), 1);
  EXPECT_EQ(StringBuffer("a.b.c").rfind(".", 4), -1);

  struct { const char* text; const char* from; const char* to; unsigned pos; int count;
           const char* result; } rows[] = {
      {"/a//b/", "/", "//", 0, 4, "//a////b//"},
      {"one--two--three", "--", "", 0, 2, "onetwothree"},
      {"abcabc", "abc", "x", 1, 1, "abcx"},
      {"abc", "", "x", 0, 0, "abc"},  // an empty pattern matches nothing, so this ends
  };
  for (const auto& row : rows) {
    StringBuffer b(row.text);
    EXPECT_EQ(b.replaceAll(row.from, row.to, row.pos), row.count) << row.text;
    EXPECT_TRUE(b == row.result) << b.c_str();
  }
  StringBuffer null;
  EXPECT_EQ(null.replace("a", "b", 0), -1);
  EXPECT_EQ(null.c_str(), nullptr);
}

// Counts live instances so that the test sees clones made and destroyed.
struct Tracked : ArrayElement {
  static int alive;
  int value;
  explicit Tracked(int v) : value(v) { ++alive; }
  Tracked(const Tracked& other) : ArrayElement(), value(other.value) { ++alive; }
  ~Tracked() override { --alive; }
  ArrayElement* clone() const override { return new Tracked(*this); }
};
int Tracked::alive = 0;

struct Uncloneable : ArrayElement {
  ArrayElement* clone() const override { return nullptr; }
};

std::string values(ElementList& list) {
  std::string out;
  for (ArrayElement* e = list.front(); e; e = list.next())
    out += std::to_string(static_cast<Tracked*>(e)->value);
  return out;
}

TEST_F(ValueTypesTest, ElementListOwnsClonesAndWrapsItsCursor) {
  {
    ElementList list;
    Tracked one(1);
    EXPECT_EQ(list.add(one), 0);
    EXPECT_EQ(list.add(Tracked(3)), 1);
    EXPECT_EQ(list.insertAt(1, Tracked(2)), 1);
    EXPECT_EQ(list.insertAt(99, Tracked(4)), 3);
    EXPECT_EQ(list.insertAt(0, Tracked(0)), 0);
    EXPECT_EQ(list.insertAt(-1, one), -1);
    EXPECT_EQ(list.insertAt(0, Uncloneable()), -1);
    one.value = 9;  // the list holds its own copy
    EXPECT_EQ(values(list), "01234");
    EXPECT_EQ(list.get(5), nullptr);
    EXPECT_EQ(Tracked::alive, 6);

    // values() went past the end: the next next() starts over
    EXPECT_EQ(static_cast<Tracked*>(list.next())->value, 0);

    auto source = std::make_unique<ElementList>(list);
    ElementList copy(*source);
    source.reset();
    copy.add(one);
    EXPECT_EQ(values(copy), "012349");
    copy = list;
    EXPECT_EQ(values(copy), "01234");
    list.clear();
    EXPECT_EQ(list.size(), 0);
    EXPECT_EQ(list.front(), nullptr);
  }
  EXPECT_EQ(Tracked::alive, 0);
}

}  // namespace
