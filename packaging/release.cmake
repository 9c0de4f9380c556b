# The release date printed on the manual pages. A package build exports SOURCE_DATE_EPOCH (the
# date of the latest entry of debian/changelog), which string(TIMESTAMP) honours, so that two
# builds give the same pages; elsewhere dpkg-parsechangelog reads that same date, and without
# it the pages carry the day of the build.
find_program(CE_DPKG_PARSECHANGELOG dpkg-parsechangelog)
mark_as_advanced(CE_DPKG_PARSECHANGELOG)
set(ce_changelog ${CMAKE_SOURCE_DIR}/debian/changelog)
if(CE_DPKG_PARSECHANGELOG AND EXISTS ${ce_changelog})
  execute_process(COMMAND ${CE_DPKG_PARSECHANGELOG} -l ${ce_changelog} -S Version
                  OUTPUT_VARIABLE ce_package_version OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE ce_failed)
  # The package's version is the project's, followed by the Debian revision.
  string(REGEX REPLACE "-[^-]*$" "" ce_upstream_version "${ce_package_version}")
  if(NOT ce_failed AND NOT ce_upstream_version STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "debian/changelog: the latest entry is for ${ce_package_version}, the "
                        "project is ${PROJECT_VERSION}: add an entry for the new version (dch)")
  endif()
  if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND ${CE_DPKG_PARSECHANGELOG} -l ${ce_changelog} -S Timestamp
                    OUTPUT_VARIABLE ce_changelog_time OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()
if(ce_changelog_time)
  set(ENV{SOURCE_DATE_EPOCH} "${ce_changelog_time}")
  string(TIMESTAMP CE_RELEASE_DATE "%Y-%m-%d" UTC)
  unset(ENV{SOURCE_DATE_EPOCH})
else()
  string(TIMESTAMP CE_RELEASE_DATE "%Y-%m-%d" UTC)
endif()
