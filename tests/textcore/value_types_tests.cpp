#include <memory>
#include <string>

#include "config/element_list.h"
#include "config/key_value_pair.h"
#include "config/string_buffer.h"
#include "config/string_map.h"
#include "tests/support/device_test.h"

namespace {

using ValueTypesTest = ce::test::DeviceTest;

TEST_F(ValueTypesTest, NullEmptyAndTextStayApartThroughEveryOperation) {
  StringBuffer null;
  StringBuffer empty("");
  StringBuffer text("abc");
  EXPECT_EQ(null.c_str(), nullptr);
  ASSERT_NE(empty.c_str(), nullptr);
  EXPECT_EQ(null.length(), 0u);
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_TRUE(null.equals(nullptr));
  EXPECT_FALSE(empty.equals(nullptr));
  EXPECT_FALSE(null.equals(""));
  EXPECT_TRUE(empty == "");
  EXPECT_TRUE(null == StringBuffer());
  EXPECT_EQ(std::string(StringBuffer("abc", 2).c_str()), "ab");
  EXPECT_NE(StringBuffer("abc", 0).c_str(), nullptr);
  EXPECT_EQ(StringBuffer(nullptr, 0).c_str(), nullptr);

  // copies and clones keep the state
  EXPECT_EQ(StringBuffer(null).c_str(), nullptr);
  EXPECT_TRUE(StringBuffer(empty).equals(""));
  std::unique_ptr<ArrayElement> cloned(text.clone());
  EXPECT_TRUE(static_cast<StringBuffer*>(cloned.get())->equals("abc"));
  std::unique_ptr<ArrayElement> clonedNull(null.clone());
  EXPECT_EQ(static_cast<StringBuffer*>(clonedNull.get())->c_str(), nullptr);

  // assign(null) frees, assign("") cuts but stays non-null
  StringBuffer b("hello");
  b.assign("");
  ASSERT_NE(b.c_str(), nullptr);
  EXPECT_EQ(b.length(), 0u);
  EXPECT_EQ(b.capacity(), 5u);
  b.assign(nullptr);
  EXPECT_EQ(b.c_str(), nullptr);
  EXPECT_EQ(b.capacity(), 0u);
  b.assign("");
  EXPECT_TRUE(b.equals(""));
  b = text;
  EXPECT_TRUE(b == "abc");
  b = b;
  EXPECT_TRUE(b == "abc");
  b.assign(b.c_str() + 1);  // a tail of itself
  EXPECT_TRUE(b == "bc");

  // append: nothing for null text or zero length, also on the null value
  StringBuffer n;
  n.append(nullptr);
  n.append("xyz", 0);
  EXPECT_EQ(n.c_str(), nullptr);
  n.append("xyz", 2);
  EXPECT_TRUE(n == "xy");
  StringBuffer ab("ab");
  ab.append("xyz", 2);
  EXPECT_TRUE(ab == "abxy");
  ab.append("!", StringBuffer::npos);
  EXPECT_TRUE(ab == "abxy!");
  EXPECT_EQ(ab.capacity(), 5u);  // what was copied, not npos
  ab.append(ab.c_str());  // its own text, across a reallocation
  EXPECT_TRUE(ab == "abxy!abxy!");
  StringBuffer e("");
  e.append("");
  EXPECT_TRUE(e == "");

  // reserve grows only, and makes a null value empty
  StringBuffer r;
  r.reserve(0);
  EXPECT_EQ(r.c_str(), nullptr);
  r.reserve(10);
  EXPECT_TRUE(r == "");
  EXPECT_EQ(r.capacity(), 10u);
  r.reserve(3);
  EXPECT_EQ(r.capacity(), 10u);

  // endsWith and substr
  EXPECT_FALSE(null.endsWith('/'));
  EXPECT_FALSE(empty.endsWith('/'));
  EXPECT_TRUE(StringBuffer("a/").endsWith('/'));
  EXPECT_TRUE(text.substr(3, 5) == "");
  EXPECT_TRUE(text.substr(4, 1) == "");
  EXPECT_TRUE(text.substr(1) == "bc");
  EXPECT_TRUE(text.substr(0, 2) == "ab");
  EXPECT_TRUE(text.substr(1, 0) == "");
  EXPECT_TRUE(null.substr(0) == "");
}

TEST_F(ValueTypesTest, FormattingGrowsToTheResultAndTrimsTheCapacityToIt) {
  StringBuffer b;
  b.sprintf("%d-%s", 42, "x");
  EXPECT_TRUE(b == "42-x");
  EXPECT_EQ(b.capacity(), 4u);

  std::string thousand(1000, 'k');
  b.sprintf("%s", thousand.c_str());
  EXPECT_EQ(b.length(), 1000u);
  EXPECT_EQ(b.capacity(), 1000u);
  EXPECT_EQ(std::string(b.c_str()), thousand);

  std::string big(1024 * 1024 + 17, 'm');
  b.sprintf("<%s>", big.c_str());
  EXPECT_EQ(b.length(), big.size() + 2);
  EXPECT_EQ(b.capacity(), big.size() + 2);
  EXPECT_EQ(std::string(b.c_str()), "<" + big + ">");

  b.sprintf("%s", "");
  EXPECT_TRUE(b == "");
  EXPECT_EQ(b.capacity(), 0u);

  // an argument that is the buffer itself survives the new buffer
  StringBuffer path("dir");
  path.sprintf("%s\\%s-%s", path.c_str(), "file", std::string(300, 'z').c_str());
  EXPECT_EQ(std::string(path.c_str()), "dir\\file-" + std::string(300, 'z'));

  // a wide argument the formatter cannot encode is an error, not an endless doubling
  StringBuffer bad("kept?");
  const wchar_t lone[] = {static_cast<wchar_t>(0xD800), 0};
  bad.sprintf("%ls", lone);
  EXPECT_EQ(bad.c_str(), nullptr);
}

TEST_F(ValueTypesTest, FindRfindAndReplace) {
  StringBuffer abc("abc");
  EXPECT_EQ(abc.find("b", 0), 1);
  EXPECT_EQ(abc.find("b", 2), -1);
  EXPECT_EQ(abc.find("b", 3), -1);
  EXPECT_EQ(StringBuffer().find("b", 0), -1);
  EXPECT_EQ(StringBuffer("").find("", 0), -1);

  EXPECT_EQ(StringBuffer("aaa").rfind("aa", 0), 1);
  EXPECT_EQ(StringBuffer("a.b.c").rfind(".", 0), 3);
  EXPECT_EQ(StringBuffer("a.b.c").rfind(".", 2), 3);
  EXPECT_EQ(StringBuffer("a.b.c").rfind(".", 4), -1);
  EXPECT_EQ(StringBuffer("abc").rfind(".", 0), -1);
  EXPECT_EQ(StringBuffer().rfind(".", 0), -1);
  EXPECT_EQ(StringBuffer("x.").rfind(".", 0), 1);

  StringBuffer slashes("a/b");
  EXPECT_EQ(slashes.replaceAll("/", "//", 0), 1);
  EXPECT_TRUE(slashes == "a//b");
  StringBuffer many("/a//b/");
  EXPECT_EQ(many.replaceAll("/", "\\", 0), 4);
  EXPECT_TRUE(many == "\\a\\\\b\\");
  StringBuffer shrink("one--two--three");
  EXPECT_EQ(shrink.replaceAll("--", "", 0), 2);
  EXPECT_TRUE(shrink == "onetwothree");
  StringBuffer from("abcabc");
  EXPECT_EQ(from.replaceAll("abc", "x", 1), 1);
  EXPECT_TRUE(from == "abcx");

  StringBuffer one("key=value");
  EXPECT_EQ(one.replace("=", " := ", 0), 3);
  EXPECT_TRUE(one == "key := value");
  EXPECT_EQ(one.replace("missing", "x", 0), -1);
  EXPECT_EQ(one.replace("k", "x", 99), -1);
  EXPECT_TRUE(one == "key := value");

  // no match for an empty or null pattern, so replaceAll ends; a null value stays null
  StringBuffer guard("abc");
  EXPECT_EQ(guard.replace("", "x", 0), -1);
  EXPECT_EQ(guard.replaceAll("", "x", 0), 0);
  EXPECT_EQ(guard.replaceAll(nullptr, "x", 0), 0);
  EXPECT_EQ(guard.replaceAll("a", nullptr, 0), 0);
  EXPECT_TRUE(guard == "abc");
  StringBuffer null;
  EXPECT_EQ(null.replaceAll("a", "b", 0), 0);
  EXPECT_EQ(null.c_str(), nullptr);

  // a replacement taken from the buffer itself, across a reallocation
  StringBuffer self("ab");
  EXPECT_EQ(self.replace("b", self.c_str(), 0), 1);
  EXPECT_TRUE(self == "aab");
}

// Counts live instances so that the tests see clones made and destroyed.
struct Tracked : ArrayElement {
  static int alive;
  int value;
  explicit Tracked(int v) : value(v) { ++alive; }
  Tracked(const Tracked& other) : ArrayElement(), value(other.value) { ++alive; }
  ~Tracked() override { --alive; }
  ArrayElement* clone() const override { return new Tracked(*this); }
};
int Tracked::alive = 0;

int valueAt(const ElementList& list, int index) {
  return static_cast<Tracked*>(list.get(index))->value;
}

struct Uncloneable : ArrayElement {
  ArrayElement* clone() const override { return nullptr; }
};

TEST_F(ValueTypesTest, ElementListOwnsClonesAndWrapsItsCursor) {
  {
    ElementList list;
    Tracked one(1), two(2), three(3);
    EXPECT_EQ(list.add(one), 0);
    EXPECT_EQ(list.add(three), 1);
    EXPECT_EQ(list.insertAt(1, two), 1);
    EXPECT_EQ(Tracked::alive, 6);
    one.value = 100;  // the list holds its own copy
    EXPECT_EQ(valueAt(list, 0), 1);

    EXPECT_EQ(list.insertAt(-1, one), -1);
    EXPECT_EQ(list.size(), 3);
    EXPECT_EQ(list.insertAt(99, Tracked(4)), 3);
    EXPECT_EQ(list.insertAt(0, Tracked(0)), 0);
    EXPECT_EQ(list.insertAt(0, Uncloneable()), -1);
    EXPECT_EQ(list.size(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(valueAt(list, i), i);
    EXPECT_EQ(list.get(5), nullptr);
    EXPECT_EQ(list.get(-1), nullptr);

    // iteration, and the start over after the end
    EXPECT_EQ(static_cast<Tracked*>(list.front())->value, 0);
    for (int i = 1; i < 5; ++i) EXPECT_EQ(static_cast<Tracked*>(list.next())->value, i);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(static_cast<Tracked*>(list.next())->value, 0);

    // a copy is independent of its source
    auto source = std::make_unique<ElementList>(list);
    ElementList copy(*source);
    source.reset();
    EXPECT_EQ(copy.size(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(valueAt(copy, i), i);
    copy = list;
    copy = copy;
    EXPECT_EQ(copy.size(), 5);
    EXPECT_EQ(valueAt(copy, 4), 4);
    EXPECT_EQ(copy.add(Tracked(5)), 5);  // appends after a copy go to its own end

    list.clear();
    EXPECT_EQ(list.size(), 0);
    EXPECT_EQ(list.front(), nullptr);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.add(one), 0);
    EXPECT_EQ(valueAt(list, 0), 100);
  }
  EXPECT_EQ(Tracked::alive, 0);
}

TEST_F(ValueTypesTest, StringMapKeepsKeysUniqueInInsertionOrder) {
  StringMap map;
  EXPECT_TRUE(map.put("k", "1"));
  EXPECT_FALSE(map.put("k", "2"));
  EXPECT_FALSE(map.put(nullptr, "x"));
  EXPECT_FALSE(map.put("j", nullptr));
  EXPECT_TRUE(map.put("a", ""));
  ASSERT_EQ(map.pairs().size(), 2);
  auto* first = static_cast<KeyValuePair*>(map.pairs().get(0));
  auto* second = static_cast<KeyValuePair*>(map.pairs().get(1));
  EXPECT_TRUE(first->key == "k");
  EXPECT_TRUE(first->value == "2");
  EXPECT_TRUE(second->key == "a");
  EXPECT_TRUE(second->value == "");
  EXPECT_EQ(map.indexOf("a"), 1);
  EXPECT_EQ(map.indexOf("K"), -1);
  EXPECT_EQ(map.indexOf(nullptr), -1);

  std::unique_ptr<ArrayElement> copy(map.clone());
  map.put("k", "3");
  auto* copied = static_cast<StringMap*>(copy.get());
  EXPECT_TRUE(static_cast<KeyValuePair*>(copied->pairs().get(0))->value == "2");

  KeyValuePair nulls(nullptr, nullptr);
  EXPECT_EQ(nulls.key.c_str(), nullptr);
  std::unique_ptr<ArrayElement> pair(KeyValuePair("x", "y").clone());
  EXPECT_TRUE(static_cast<KeyValuePair*>(pair.get())->value == "y");
}

}  // namespace
