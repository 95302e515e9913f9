# SPDX-License-Identifier: MIT
# The release date, from the changelog's newest entry (its one place):
# EXTRACTOR_MAN_DATE (YYYY-MM-DD) and EXTRACTOR_SOURCE_DATE_EPOCH (seconds,
# for reproducible packages). The newest entry must be this version; its
# trailer line (" -- NAME  Wed, 09 Dec 2026 20:00:00 +0000") gives the date.
file(READ ${PROJECT_SOURCE_DIR}/doc/changelog.in changelog)
if(NOT changelog MATCHES "^extractor \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "doc/changelog.in does not start with version ${PROJECT_VERSION}")
endif()
# The first trailer line is the newest entry's.
if(NOT changelog MATCHES
   "\n -- [^\n]*  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) \\+0000")
  message(FATAL_ERROR "doc/changelog.in: no date (in UTC) in the newest entry's trailer line")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
math(EXPR seconds "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
if(month LESS 0)
  message(FATAL_ERROR "doc/changelog.in: no month ${CMAKE_MATCH_2} in the newest entry's date")
endif()
math(EXPR month "${month} + 1")
# Days since 1970-01-01 of a date in the proleptic Gregorian calendar, for
# years from 1 on (March-based years, so that leap days fall last).
if(month LESS_EQUAL 2)
  math(EXPR y "${year} - 1")
  math(EXPR m "${month} + 9")
else()
  set(y ${year})
  math(EXPR m "${month} - 3")
endif()
math(EXPR days "${y} * 365 + ${y} / 4 - ${y} / 100 + ${y} / 400 + (153 * ${m} + 2) / 5 + ${day} - 1 - 719468")
math(EXPR EXTRACTOR_SOURCE_DATE_EPOCH "${days} * 86400 + ${seconds}")
if(month LESS 10)
  set(month 0${month})
endif()
set(EXTRACTOR_MAN_DATE ${year}-${month}-${day})
