// How the cost of walking a key and of deep paths grows. Orders of growth only: the timing
// targets live in bench/registry. A linear cost grows four times for four times the work; the
// quadratic costs these tests guard against grow sixteen times, so anything under eight passes.
#include <algorithm>
#include <ctime>
#include <string>

#include "platform/registry_transaction.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"

namespace {

using RegistryGrowthTest = ce::test::DeviceTest;
// The least processor time of a few runs, in seconds. Processor time, not the clock's: on a
// busy machine a short run may escape the others while a long one cannot, which would look
// like growth.
template <typename Work>
double fastestOf(int runs, Work work) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    std::clock_t start = std::clock();
    work();
    best = std::min(best, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return best;
}

HKEY keyWith(const std::wstring& path, int values, int subkeys) {
  HKEY key = ce::test::createKey(path.c_str());
  EXPECT_EQ(ce::registry::runInTransaction([&] {
              for (int i = 0; i < values; ++i) {
                DWORD number = static_cast<DWORD>(i);
                RegSetValueExW(key, (L"value " + std::to_wstring(i)).c_str(), 0, REG_DWORD,
                               reinterpret_cast<BYTE*>(&number), sizeof number);
              }
              for (int i = 0; i < subkeys; ++i)
                RegCloseKey(ce::test::createKey((path + L"\\sub " + std::to_wstring(i)).c_str()));
              return ERROR_SUCCESS;
            }),
            ERROR_SUCCESS);
  return key;
}

// Every value with its data (or every subkey), by ascending index, as the device tool lists a
// key; how many there were.
int walk(HKEY key, bool values) {
  for (DWORD i = 0;; ++i) {
    WCHAR name[32];
    DWORD chars = 32, data = 0, size = sizeof data;
    LONG rc = values ? RegEnumValueW(key, i, name, &chars, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&data), &size)
                     : RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<int>(i);
  }
}

TEST_F(RegistryGrowthTest, WalkingFourTimesTheEntriesCostsAboutFourTimes) {
  // Large enough that a walk takes tens of milliseconds, above the noise of a busy machine.
  const int small = 6000;
  HKEY few = keyWith(L"Software\\Few", small, small);
  HKEY many = keyWith(L"Software\\Many", 4 * small, 4 * small);
  for (bool values : {true, false}) {
    ASSERT_EQ(walk(few, values), small);
    ASSERT_EQ(walk(many, values), 4 * small);
    double ratio =
        fastestOf(5, [&] { walk(many, values); }) / fastestOf(5, [&] { walk(few, values); });
    EXPECT_LT(ratio, 8.0) << (values ? "values" : "subkeys");
  }
}

// Creating the last key of a chain whose parents exist, by its full path as an import does:
// one lookup per name, each the same cost whatever the depth.
TEST_F(RegistryGrowthTest, AKeyFourTimesDeeperCostsAboutFourTimesToCreate) {
  auto chain = [](int depth) {
    std::wstring path = L"Software\\Chain" + std::to_wstring(depth);
    // Appended in place: GCC 12 at -O3 warns (falsely) on `L"..." + wstring` here.
    for (int i = 0; i < depth; ++i) path.append(L"\\").append(40, L'k');
    RegCloseKey(ce::test::createKey(path.c_str()));
    return path;
  };
  // Rolled back at the end, so that no commit to disk blurs the measure.
  auto lastLevel = [](const std::wstring& parent) {
    return [path = parent + L"\\last"] {
      ce::registry::runInTransaction([&] {
        for (int i = 0; i < 40; ++i) {
          RegCloseKey(ce::test::createKey(path.c_str()));
          RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        }
        return ERROR_GEN_FAILURE;
      });
    };
  };
  std::wstring shallow = chain(60), deep = chain(240);
  double ratio = fastestOf(7, lastLevel(deep)) / fastestOf(7, lastLevel(shallow));
  EXPECT_LT(ratio, 8.0) << "depth";
}

}  // namespace
