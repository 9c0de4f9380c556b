// The in-process class table and CoCreateInstance over it.
#include "platform/linux/com/class_table.h"

#include <mutex>
#include <vector>

#include "platform/linux/com/com.h"
#include "platform/linux/com/com_state.h"
#include "platform/linux/kernel/platform_state.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

struct ClassEntry {
  CLSID clsid;
  ce::com::ClassFactory factory;
};

// Registrations come from static initialisers of other libraries: construct on first use.
struct ClassTable {
  std::mutex mutex;
  std::vector<ClassEntry> entries;
};

ClassTable& classTable() {
  static ClassTable table;
  return table;
}

ce::com::ClassFactory findFactory(REFCLSID clsid) {
  ClassTable& table = classTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const ClassEntry& entry : table.entries)
    if (IsEqualGUID(entry.clsid, clsid)) return entry.factory;
  return nullptr;
}

}  // namespace

namespace ce::com {

void registerClass(REFCLSID clsid, ClassFactory factory) {
  ClassTable& table = classTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const ClassEntry& entry : table.entries)
    if (IsEqualGUID(entry.clsid, clsid)) return;
  table.entries.push_back(ClassEntry{clsid, factory});
}

}  // namespace ce::com

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsctx, REFIID riid,
                         LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  long long forced;
  if (ce::failPointHit("CoCreateInstance", forced)) return static_cast<HRESULT>(forced);
  if (!ce::com::threadInitialized()) return CO_E_NOTINITIALIZED;
  ce::com::ClassFactory factory = findFactory(clsid);
  // Every class here is an in-process server; asking for another context finds none.
  if (factory == nullptr || (clsctx & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  HRESULT result = factory(riid, object);
  if (FAILED(result)) *object = nullptr;
  return result;
}
