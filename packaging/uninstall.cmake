# `cmake --build BUILD --target uninstall`: removes what the last `cmake --install` of BUILD
# put in place, as install_manifest.txt lists it (DESTDIR included), then the folders of our
# own (libexec/cedevice, share/doc/cedevice, ...) that this leaves empty. Shared folders
# (bin/, share/man/man1/) stay, even when empty.
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "nothing to uninstall: ${MANIFEST} does not exist "
                      "(it is written by cmake --install)")
endif()
file(STRINGS "${MANIFEST}" ce_installed)
set(ce_folders "")
foreach(ce_file ${ce_installed})
  if(EXISTS "${ce_file}" OR IS_SYMLINK "${ce_file}")
    message(STATUS "Removing: ${ce_file}")
    file(REMOVE "${ce_file}")
  endif()
  get_filename_component(ce_folder "${ce_file}" DIRECTORY)
  while(ce_folder MATCHES "/cedevice(/|$)")
    list(APPEND ce_folders "${ce_folder}")
    get_filename_component(ce_folder "${ce_folder}" DIRECTORY)
  endwhile()
endforeach()
# Deepest first, so that a folder's empty subfolders are gone before it is looked at.
list(REMOVE_DUPLICATES ce_folders)
list(SORT ce_folders ORDER DESCENDING)
foreach(ce_folder ${ce_folders})
  file(GLOB ce_left LIST_DIRECTORIES true "${ce_folder}/*" "${ce_folder}/.*")
  if(IS_DIRECTORY "${ce_folder}" AND NOT ce_left)
    file(REMOVE_RECURSE "${ce_folder}")
  endif()
endforeach()
