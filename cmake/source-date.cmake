# The time of the last CHANGELOG entry, in seconds since 1970: what release
# files carry instead of the time of the build, so that two builds of one
# commit give the same bytes. The entries are Debian's, newest first, each
# closed by a line such as
#   " -- Name <address>  Tue, 08 Dec 2026 12:00:00 +0000".
function(tagbatch_source_date changelog out)
  file(STRINGS "${changelog}" trailers REGEX "^ -- ")
  list(GET trailers 0 newest)
  if(NOT newest MATCHES
     "([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([-+])([0-9][0-9])([0-9][0-9])$")
    message(FATAL_ERROR "no date at the end of: ${newest}")
  endif()
  set(day ${CMAKE_MATCH_1})
  set(year ${CMAKE_MATCH_3})
  set(seconds "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
  set(offset "${CMAKE_MATCH_7}(${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND months ${CMAKE_MATCH_2} month)
  if(month LESS 0)
    message(FATAL_ERROR "no month named ${CMAKE_MATCH_2}")
  endif()
  # Days since 1970-01-01 in the proleptic Gregorian calendar, counting
  # years from March so that the leap day comes last.
  if(month LESS 2)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 10")
  else()
    math(EXPR month "${month} - 2")
  endif()
  math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400 + (153 * ${month} + 2) / 5 + ${day} - 1 - 719468")
  math(EXPR epoch "${days} * 86400 + ${seconds} - ${offset}")
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()
