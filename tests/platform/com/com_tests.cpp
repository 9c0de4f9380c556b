#include <thread>

#include "platform/com/class_table.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

using ComTest = ce::test::DeviceTest;

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

void* const sentinel = reinterpret_cast<void*>(0xdeadbeef);

HRESULT create(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
  *object = sentinel;
  return CoCreateInstance(clsid, outer, context, riid, object);
}

TEST_F(ComTest, InitialisationIsCountedPerThreadAndKeepsItsModel) {
  ce::com::registerClass(CLSID_Counter, &createCounter);
  void* object;
  EXPECT_EQ(create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &object),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
  int reserved;
  EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);

  // Another thread has an apartment of its own.
  HRESULT created = S_OK, initialised = E_FAIL;
  std::thread([&] {
    void* other;
    created = create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &other);
    initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  }).join();
  EXPECT_EQ(created, CO_E_NOTINITIALIZED);
  EXPECT_EQ(initialised, S_OK);

  // Two counted initialisations need two uninitialisations; the refused ones did not count.
  CoUninitialize();
  ASSERT_EQ(create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &object), S_OK);
  static_cast<IUnknown*>(object)->Release();
  CoUninitialize();
  EXPECT_EQ(create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &object),
            CO_E_NOTINITIALIZED);
  CoUninitialize();  // one too many does no harm
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ce::testing::reset();
  EXPECT_EQ(create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &object),
            CO_E_NOTINITIALIZED);
}

TEST_F(ComTest, CreationReportsEachFailureWithItsOwnCode) {
  ce::com::registerClass(CLSID_Counter, &createCounter);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  void* object;
  ASSERT_EQ(create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &object), S_OK);
  EXPECT_EQ(static_cast<Counter*>(static_cast<IUnknown*>(object))->references, 1u);
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(liveCounters, 0);

  CLSID nearly = CLSID_Counter;  // one byte of Data4 makes another class
  nearly.Data4[7] ^= 1;
  IID otherInterface = IID_ICounter;
  otherInterface.Data2 ^= 0x100;
  Counter outer;
  struct {
    const CLSID& clsid;
    IUnknown* outer;
    DWORD context;
    const IID& riid;
    HRESULT expected;
  } const failures[] = {
      {nearly, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, REGDB_E_CLASSNOTREG},
      {CLSID_Counter, nullptr, CLSCTX_LOCAL_SERVER, IID_ICounter, REGDB_E_CLASSNOTREG},
      {CLSID_Counter, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, CLASS_E_NOAGGREGATION},
      {CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, otherInterface, E_NOINTERFACE},
  };
  for (const auto& f : failures) {
    EXPECT_EQ(create(f.clsid, f.outer, f.context, f.riid, &object), f.expected);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(liveCounters, 1);  // only `outer`: the refused object was not leaked
  EXPECT_EQ(CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, nullptr),
            E_POINTER);

  ce::testing::setFailPoint("CoCreateInstance", REGDB_E_CLASSNOTREG, 0, 1);
  EXPECT_EQ(create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(create(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, &object), S_OK);
  static_cast<IUnknown*>(object)->Release();
  CoUninitialize();

  ce::testing::setFailPoint("CoInitializeEx", E_OUTOFMEMORY, 0, 1);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), E_OUTOFMEMORY);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

}  // namespace
