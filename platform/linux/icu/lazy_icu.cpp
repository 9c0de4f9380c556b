#include "platform/linux/icu/lazy_icu.h"

#include <dlfcn.h>
#include <errno.h>

#include <cstdio>
#include <cstdlib>

// ICU's exported names carry its version (u_toupper is a macro for u_toupper_72); the text of
// the expanded macro is the name to look up.
#define CE_ICU_TEXT_OF(name) #name
#define CE_ICU_NAME(name) CE_ICU_TEXT_OF(name)

namespace ce::icu {

namespace {

constexpr const char* libraryName = "libicuuc.so." U_ICU_VERSION_SHORT;

[[noreturn]] void cannotLoad(const char* what) {
  std::fprintf(stderr, "%s: cannot load ICU (%s): %s\n", program_invocation_short_name,
               libraryName, what ? what : "unknown error");
  std::_Exit(127);
}

template <typename Pointer>
void find(void* library, const char* name, Pointer& slot) {
  slot = reinterpret_cast<Pointer>(dlsym(library, name));
  if (!slot) cannotLoad(dlerror());
}

Functions load() {
  // Never closed: ICU keeps its data and caches for the life of the process.
  void* library = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
  if (!library) cannotLoad(dlerror());
  Functions f{};
  find(library, CE_ICU_NAME(u_toupper), f.toUpper);
  find(library, CE_ICU_NAME(u_tolower), f.toLower);
  find(library, CE_ICU_NAME(u_charType), f.charType);
  find(library, CE_ICU_NAME(unorm2_getNFCInstance), f.nfcInstance);
  find(library, CE_ICU_NAME(unorm2_getNFDInstance), f.nfdInstance);
  find(library, CE_ICU_NAME(unorm2_getDecomposition), f.decomposition);
  find(library, CE_ICU_NAME(unorm2_composePair), f.composePair);
  find(library, CE_ICU_NAME(ucnv_open), f.open);
  find(library, CE_ICU_NAME(ucnv_close), f.close);
  find(library, CE_ICU_NAME(ucnv_reset), f.reset);
  find(library, CE_ICU_NAME(ucnv_resetToUnicode), f.resetToUnicode);
  find(library, CE_ICU_NAME(ucnv_resetFromUnicode), f.resetFromUnicode);
  find(library, CE_ICU_NAME(ucnv_toUChars), f.toUChars);
  find(library, CE_ICU_NAME(ucnv_fromUChars), f.fromUChars);
  find(library, CE_ICU_NAME(ucnv_setFallback), f.setFallback);
  find(library, CE_ICU_NAME(ucnv_setSubstChars), f.setSubstChars);
  find(library, CE_ICU_NAME(ucnv_setToUCallBack), f.setToUCallBack);
  find(library, CE_ICU_NAME(ucnv_setFromUCallBack), f.setFromUCallBack);
  find(library, CE_ICU_NAME(ucnv_cbFromUWriteSub), f.writeSubstitute);
  find(library, CE_ICU_NAME(UCNV_TO_U_CALLBACK_STOP), f.toUnicodeStop);
  find(library, CE_ICU_NAME(UCNV_TO_U_CALLBACK_SUBSTITUTE), f.toUnicodeSubstitute);
  find(library, CE_ICU_NAME(UCNV_FROM_U_CALLBACK_STOP), f.fromUnicodeStop);
  return f;
}

}  // namespace

const Functions& functions() {
  static const Functions loaded = load();
  return loaded;
}

}  // namespace ce::icu
