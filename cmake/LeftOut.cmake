# Parts of the build that need something this machine may not have (Node.js
# for the timeline page, Chromium for its browser test, libzip for the session
# formats, ...). A part that cannot be built is left out with one line saying
# why; the configure run ends with the list, and each left-out test becomes a
# test of its own that skips (77) — or fails when FD_REQUIRE_PEERS=1, as
# scripts/test-all sets it on the main preset — so nothing disappears
# silently.

# fd_part_switch(NAME DOC): a part's switch: AUTO (default: built
# when what it needs is found), ON (a missing requirement stops the
# configure run) or OFF.
function(fd_part_switch name doc)
  set(${name} AUTO CACHE STRING "${doc} (AUTO, ON or OFF)")
  set_property(CACHE ${name} PROPERTY STRINGS AUTO ON OFF)
endfunction()

# fd_left_out(WHAT REASON [TESTS name...]): records that WHAT is not built and
# why; TESTS names the test targets that go with it.
function(fd_left_out what reason)
  cmake_parse_arguments(L "" "" "TESTS" ${ARGN})
  message(STATUS "Left out: ${what}: ${reason}")
  set_property(GLOBAL APPEND PROPERTY FD_LEFT_OUT_PARTS "${what}")
  foreach(test IN LISTS L_TESTS)
    set_property(GLOBAL APPEND PROPERTY FD_LEFT_OUT_TESTS "${test}")
    set_property(GLOBAL PROPERTY FD_LEFT_OUT_REASON_${test} "${reason}")
  endforeach()
endfunction()

# fd_find_part(SWITCH RESULT PROGRAM VAR NAMES name... [PATHS dir...]
#              LABEL text FILE path FILE_LABEL text): looks for the program a
# part needs (into the cache variable VAR) and a file it needs; sets RESULT
# to why the part cannot be built, or to "" when it can.
function(fd_find_part switch result)
  cmake_parse_arguments(P "" "PROGRAM;LABEL;FILE;FILE_LABEL" "NAMES;PATHS" ${ARGN})
  if(${switch} STREQUAL "OFF")
    set(${result} "${switch}=OFF" PARENT_SCOPE)
    return()
  endif()
  if(P_PATHS)
    find_program(${P_PROGRAM} NAMES ${P_NAMES} PATHS ${P_PATHS} NO_DEFAULT_PATH)
  else()
    find_program(${P_PROGRAM} NAMES ${P_NAMES})
  endif()
  if(NOT ${P_PROGRAM})
    set(${result} "${P_LABEL} not found" PARENT_SCOPE)
  elseif(NOT EXISTS ${P_FILE})
    set(${result} "${P_FILE_LABEL}" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
  endif()
endfunction()

# fd_leave_out_part(SWITCH WHAT REASON [TESTS name...]): fd_left_out, except
# that SWITCH=ON stops the configure run instead.
function(fd_leave_out_part switch what reason)
  if(${switch} STREQUAL "ON")
    message(FATAL_ERROR "${switch}=ON but ${what} cannot be built: ${reason}")
  endif()
  fd_left_out("${what}" "${reason}" ${ARGN})
endfunction()

# One placeholder test per left-out test target (called once the tests are
# declared).
function(fd_add_left_out_tests)
  get_property(tests GLOBAL PROPERTY FD_LEFT_OUT_TESTS)
  foreach(test IN LISTS tests)
    get_property(reason GLOBAL PROPERTY FD_LEFT_OUT_REASON_${test})
    add_test(NAME ${test}_left_out COMMAND sh ${PROJECT_SOURCE_DIR}/tests/left_out.sh "${test}" "${reason}")
    set_tests_properties(${test}_left_out PROPERTIES SKIP_RETURN_CODE 77)
  endforeach()
endfunction()

# The closing summary of the configure run.
function(fd_report_left_out)
  get_property(parts GLOBAL PROPERTY FD_LEFT_OUT_PARTS)
  if(parts)
    list(JOIN parts "; " text)
    message(STATUS "This build leaves out: ${text}. scripts/install-deps installs what they need.")
  endif()
endfunction()
