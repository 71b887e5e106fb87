# SPDX-License-Identifier: GPL-3.0-or-later
# Run by ctest when it reads the test list (TEST_INCLUDE_FILES): asks the
# window-test program for its classes and adds one test per class, so a class
# added later needs no change here. Set by the caller: UI_TEST_EXE,
# UI_TEST_PREFIX, UI_TEST_TIMEOUT, UI_CMAKE_COMMAND, UI_SCAN_RETRY_HUNG.

if(NOT EXISTS "${UI_TEST_EXE}")
  # Not built: a test that fails to start, rather than no tests at all.
  add_test("${UI_TEST_PREFIX}NOT_BUILT" "${UI_TEST_EXE}" --list-classes)
  return()
endif()

execute_process(
  COMMAND "${UI_TEST_EXE}" --list-classes
  OUTPUT_VARIABLE ui_classes
  ERROR_VARIABLE ui_error
  RESULT_VARIABLE ui_result
  TIMEOUT 60)
string(REGEX REPLACE "\n$" "" ui_classes "${ui_classes}")
string(REPLACE "\n" ";" ui_classes "${ui_classes}")

if(NOT ui_result EQUAL 0 OR ui_classes STREQUAL "")
  message(WARNING "${UI_TEST_EXE} --list-classes failed (${ui_result}): ${ui_error}")
  add_test("${UI_TEST_PREFIX}LIST_FAILED" "${UI_CMAKE_COMMAND}" -E false)
  return()
endif()

foreach(ui_class IN LISTS ui_classes)
  if(NOT ui_class MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    message(WARNING "unexpected class name from ${UI_TEST_EXE}: ${ui_class}")
    continue()
  endif()
  if(ui_class MATCHES "^ScanToPage" AND UI_SCAN_RETRY_HUNG)
    # These scan through the SANE test backend, which now and then hangs as
    # the program ends (as the scan tests know): such a run is run again.
    add_test("${UI_TEST_PREFIX}${ui_class}" "${UI_SCAN_RETRY_HUNG}" "${UI_TEST_EXE}" "${ui_class}")
  else()
    add_test("${UI_TEST_PREFIX}${ui_class}" "${UI_TEST_EXE}" "${ui_class}")
  endif()
  # Under AddressSanitizer, allocations are traced with the full unwinder: Qt's
  # libraries keep no frame pointers, and leak reports (and their
  # suppressions) need the real stacks through them.
  # A class named …AtScale2 sees a screen of two device pixels per point.
  set(ui_env "QT_QPA_PLATFORM=offscreen")
  if(ui_class MATCHES "AtScale2$")
    list(APPEND ui_env "QT_SCALE_FACTOR=2")
  endif()
  set_tests_properties("${UI_TEST_PREFIX}${ui_class}" PROPERTIES
    ENVIRONMENT "${ui_env}"
    ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::fast_unwind_on_malloc=0"
    TIMEOUT "${UI_TEST_TIMEOUT}")
endforeach()
