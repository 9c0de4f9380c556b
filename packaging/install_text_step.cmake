# The install-time half of ce_install_text (install_text.cmake): runs inside `cmake --install`,
# where CMAKE_INSTALL_PREFIX is the prefix in use.
function(ce_below_prefix out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

# systemd's user instance reads units from /usr/lib/systemd/user and from share/systemd/user
# below /usr, /usr/local, ~/.local ($XDG_DATA_HOME) and every folder of $XDG_DATA_DIRS; so
# lib/ is Debian's place under /usr, and share/ the one that works for any other prefix
# (`systemd-analyze --user unit-paths` lists them).
string(REGEX REPLACE "/+$" "" ce_prefix "${CMAKE_INSTALL_PREFIX}")
if(ce_prefix STREQUAL "/usr")
  set(ce_dir_USERUNITDIR lib/systemd/user)
else()
  set(ce_dir_USERUNITDIR "${ce_dir_DATADIR}/systemd/user")
endif()

# zsh on Debian reads vendor-completions; elsewhere site-functions is zsh's own place.
if(ce_prefix STREQUAL "/usr")
  set(ce_dir_ZSHCOMPDIR "${ce_dir_DATADIR}/zsh/vendor-completions")
else()
  set(ce_dir_ZSHCOMPDIR "${ce_dir_DATADIR}/zsh/site-functions")
endif()

set(ce_words VERSION DATE BINDIR HELPERDIR DOCDIR USERUNITDIR ZSHCOMPDIR)
foreach(word ${ce_words})
  if(DEFINED ce_dir_${word})
    ce_below_prefix(ce_text_${word} "${ce_dir_${word}}")
  endif()
endforeach()

file(READ "${ce_text_source}" ce_text)
set(ce_destination "${ce_text_destination}")
foreach(word ${ce_words})
  string(REPLACE "@${word}@" "${ce_text_${word}}" ce_text "${ce_text}")
  string(REPLACE "@${word}@" "${ce_text_${word}}" ce_destination "${ce_destination}")
endforeach()
ce_below_prefix(ce_destination "${ce_destination}")

# Written in place, not staged in the build tree, so that two installs at once (tests, a
# package while a prefix is installed) never share a file.
set(ce_installed "${ce_destination}/${ce_text_name}")
message(STATUS "Installing: $ENV{DESTDIR}${ce_installed}")
set(ce_written "$ENV{DESTDIR}${ce_installed}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${ce_destination}")
file(WRITE "${ce_written}" "${ce_text}")
file(CHMOD "${ce_written}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# As CMake lists what it installs itself: DESTDIR included.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${ce_written}")
