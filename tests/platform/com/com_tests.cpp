#include "platform/linux/com/class_table.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

const CLSID CLSID_Counter = {0x1F2E3D4C, 0x5B6A, 0x4978,
                             {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF0}};
const IID IID_ICounter = {0x0A1B2C3D, 0x4E5F, 0x4061,
                          {0x72, 0x83, 0x94, 0xA5, 0xB6, 0xC7, 0xD8, 0xE9}};

int liveCounters = 0;

struct Counter final : IUnknown {
  Counter() { ++liveCounters; }
  ~Counter() { --liveCounters; }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_ICounter)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *object = this;
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override {
    ULONG left = --references;
    if (left == 0) delete this;
    return left;
  }
  ULONG references = 1;
};

HRESULT createCounter(REFIID riid, void** object) {
  auto* counter = new Counter;
  HRESULT result = counter->QueryInterface(riid, object);
  counter->Release();
  return result;
}

class ComTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ce::com::registerClass(CLSID_Counter, &createCounter);
  }
  // CoCreateInstance over a sentinel: every failure must also clear `object`.
  static HRESULT create(void*& object, REFCLSID clsid = CLSID_Counter, REFIID riid = IID_ICounter) {
    object = reinterpret_cast<void*>(0xdeadbeef);
    HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, &object);
    EXPECT_TRUE(SUCCEEDED(result) || object == nullptr) << std::hex << result;
    return result;
  }
};

TEST_F(ComTest, InitialisationIsCountedPerThreadAndKeepsItsModel) {
  void* object;
  EXPECT_EQ(create(object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);

  // Two counted initialisations need two uninitialisations; the refused ones did not count.
  CoUninitialize();
  ASSERT_EQ(create(object), S_OK);
  static_cast<IUnknown*>(object)->Release();
  CoUninitialize();
  EXPECT_EQ(create(object), CO_E_NOTINITIALIZED);
}

TEST_F(ComTest, CreationReportsEachFailureWithItsOwnCode) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  void* object;
  ASSERT_EQ(create(object), S_OK);
  EXPECT_EQ(static_cast<Counter*>(static_cast<IUnknown*>(object))->references, 1u);
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(liveCounters, 0);

  CLSID nearly = CLSID_Counter;  // one byte of Data4 makes another class
  nearly.Data4[7] ^= 1;
  IID otherInterface = IID_ICounter;
  otherInterface.Data2 ^= 0x100;
  EXPECT_EQ(create(object, nearly), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(create(object, CLSID_Counter, otherInterface), E_NOINTERFACE);
  EXPECT_EQ(liveCounters, 0);  // the refused object was not leaked
}

}  // namespace
