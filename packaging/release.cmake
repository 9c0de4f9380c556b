# The release as packaging/changelog records it, the one place that names it: its latest entry
# gives the maintainer of the package and the date of the manual pages. A version raised in
# project() without a changelog entry stops the configure step, so the two never disagree.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog ce_changelog_heading LIMIT_COUNT 1
     REGEX "^[a-z]")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog ce_changelog_trailer LIMIT_COUNT 1
     REGEX "^ -- ")
if(NOT ce_changelog_heading MATCHES "^cedevice \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog: the first line is not an entry of cedevice")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog: the latest entry is for ${CMAKE_MATCH_1}, the "
                      "project is ${PROJECT_VERSION}: add an entry for the new version")
endif()
# " -- Name <address>  Mon, 07 Dec 2026 12:00:00 +0000"
if(NOT ce_changelog_trailer MATCHES
   "^ -- (.+ <[^>]+>)  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: the latest entry has no maintainer line")
endif()
set(CE_MAINTAINER "${CMAKE_MATCH_1}")
set(ce_day "${CMAKE_MATCH_2}")
set(ce_year "${CMAKE_MATCH_4}")
set(ce_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND ce_months "${CMAKE_MATCH_3}" ce_month)
math(EXPR ce_month "${ce_month} + 1")
if(ce_month LESS 10)
  set(ce_month "0${ce_month}")
endif()
set(CE_RELEASE_DATE "${ce_year}-${ce_month}-${ce_day}")
