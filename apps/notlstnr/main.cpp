// The listener process: the device starts it without arguments.
#include <clocale>

#include "listener/startup.h"

int main() {
  // Every process of the device prints any character through %S.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  wchar_t commandLine[] = L"";
  return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, 0);
}
