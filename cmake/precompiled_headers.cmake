# Precompiled headers. Most of a source's compile here goes to the headers it includes, not to
# its own code: the C++ standard library's, and in a test GoogleTest's and GoogleMock's, which
# cost more than the test itself. Each set is compiled once per build folder and reused by
# every target, instead of once per source.
# -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON builds without them (which also shows a source that
# forgot an include).

# The standard headers that many of our sources include.
set(CE_STANDARD_HEADERS <algorithm> <atomic> <chrono> <cstdio> <cstring> <cwchar> <filesystem>
    <functional> <map> <memory> <mutex> <optional> <string> <vector>)

if(NOT CMAKE_DISABLE_PRECOMPILE_HEADERS)
  # A header that the compiler cannot use (compiled with other flags) would silently cost the
  # whole compile again: say so, and fail the project's own builds.
  add_compile_options(-Winvalid-pch)
endif()

# ce_add_precompiled_headers(name header...): a target that only compiles the headers, for
# others to reuse (ce_reuse_precompiled_headers).
function(ce_add_precompiled_headers name)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// Compiles the precompiled headers of ${name}.\n")
  add_library(${name} OBJECT ${source})
  target_precompile_headers(${name} PRIVATE ${ARGN})
endfunction()

# ce_reuse_precompiled_headers(from folder): every library and program defined in `folder` and
# below it reuses the headers of `from`, unless it has headers of its own.
function(ce_reuse_precompiled_headers from folder)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(own ${target} PRECOMPILE_HEADERS)
    get_target_property(reused ${target} PRECOMPILE_HEADERS_REUSE_FROM)
    if(type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$" AND NOT own AND NOT reused
       AND NOT target STREQUAL from)
      target_precompile_headers(${target} REUSE_FROM ${from})
    endif()
  endforeach()
  get_property(folders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  foreach(subfolder ${folders})
    ce_reuse_precompiled_headers(${from} ${subfolder})
  endforeach()
endfunction()
