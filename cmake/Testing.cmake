# GoogleTest for both builds: Debian's prebuilt library natively, built from
# Debian's sources for mingw. quorvex_add_test registers a test program: one
# ctest test per case natively, one per program under wine (a wine process per
# case would dominate the run).
enable_testing()

if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

#
# LAUNCHER names a command that starts the test program (its arguments follow
# it), before wine in the Windows build; PROPERTIES are added to its tests.
function(quorvex_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LAUNCHER;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quorvex_test_support GTest::gtest quorvex_warnings)
  if(CMAKE_CROSSCOMPILING)
    # Under wine, a program that crashes may end with exit code 0, and one
    # that cannot start says nothing: the runner judges and reports both.
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${ARG_LAUNCHER}
      sh ${PROJECT_SOURCE_DIR}/tests/support/run_test_program.sh ${CMAKE_CROSSCOMPILING_EMULATOR})
    add_test(NAME ${name} COMMAND ${name})
    # Labelled so that a machine that cannot run the programs can leave them out.
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS wine
      ENVIRONMENT "WINEDEBUG=-all" ${ARG_PROPERTIES})
  else()
    if(ARG_LAUNCHER)
      set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${ARG_LAUNCHER})
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ${ARG_PROPERTIES})
  endif()
endfunction()

# objdump's name for the Windows binaries' format, which the export checks
# compare with what they read.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QUORVEX_PE_MACHINE pei-x86-64)
else()
  set(QUORVEX_PE_MACHINE pei-i386)
endif()

# Tests of the Windows build that start its programs under wine carry the
# label "wine", so that a machine that cannot run them can leave them out.
function(quorvex_runs_under_wine)
  if(CMAKE_CROSSCOMPILING)
    set_property(TEST ${ARGN} APPEND PROPERTY LABELS wine)
  endif()
endfunction()
