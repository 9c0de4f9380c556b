# The Windows build, included by the top CMakeLists.txt when cross-compiling with
# platform/win32/toolchain-mingw-w64.cmake: the listener, the launcher and the scheduler as
# PE32+ programs, and the application's unit tests that need nothing of Linux. No Linux
# library (SQLite, ICU, CLI11) is needed: what stands on them on Linux is the system's here.
add_compile_options(-Wall -Wextra)
if(CE_WERROR)
  add_compile_options(-Werror)
endif()
include_directories(${CMAKE_SOURCE_DIR})

add_subdirectory(platform/win32)
foreach(component textcore config clientlib recording watchers listener apps/notlstnr
                  apps/startsync)
  add_subdirectory(${component})
endforeach()

if(BUILD_TESTING)
  # Debian's googletest sources (package googletest), built with this toolchain.
  set(CE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  if(NOT EXISTS ${CE_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${CE_GOOGLETEST_SOURCE}: install the "
                        "Debian package googletest (or run scripts/setup --windows)")
  endif()
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${CE_GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL SYSTEM)
  # The framework is not what the tests test: built without optimisation or debug
  # information it compiles in less than half the time (gtest-all.cc alone takes 25 s of
  # compiler time at -O2 -g), and the tests run no slower that anyone would notice.
  foreach(framework gtest gtest_main gmock gmock_main)
    target_compile_options(${framework} PRIVATE -O0 -g0)
  endforeach()
  add_subdirectory(tests/windows)
endif()
