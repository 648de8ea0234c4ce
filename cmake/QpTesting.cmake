# Test helpers shared by the native and the Windows configurations.

# GoogleTest from Debian's source package, built with the configuration's own compiler.
function(qp_use_googletest)
  if(TARGET gtest)
    return()
  endif()
  set(gtest_disable_pthreads ${WIN32} CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()

# The build tree's Wine prefix, made fresh by the fixture test "wineprefix" of each test run.
set(QP_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

# Where this build's programs run emulated (32-bit ones through qemu-user, on a kernel without
# ia32 emulation), every Wine start costs seconds and the code runs slower: all time limits of
# the Wine tests, the programs' watchdogs and CTest's, are QP_TIME_SCALE times as long there.
# binfmt_misc comes before the kernel's own ELF loader, so an enabled rule means emulation.
set(QP_EMULATED OFF CACHE INTERNAL "")
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND EXISTS /proc/sys/fs/binfmt_misc/qemu-i386)
  file(STRINGS /proc/sys/fs/binfmt_misc/qemu-i386 qp_binfmt_state LIMIT_COUNT 1)
  if(qp_binfmt_state STREQUAL "enabled")
    set(QP_EMULATED ON CACHE INTERNAL "")
  endif()
endif()
if(NOT DEFINED QP_TIME_SCALE)
  set(QP_TIME_SCALE 1)
  if(QP_EMULATED)
    set(QP_TIME_SCALE 3)
  endif()
endif()

# qp_time_limit(OUT seconds): a time limit of this build's Wine tests.
function(qp_time_limit out seconds)
  math(EXPR scaled "${seconds} * ${QP_TIME_SCALE}")
  set(${out} ${scaled} PARENT_SCOPE)
endfunction()

# qp_wine_prefix_fixture(NAME PREFIX SERVERS): the fixture NAME, a fresh Wine prefix at PREFIX
# with every server DLL in the folder SERVERS registered, made before the tests that require the
# fixture and removed after them (a WoW64 prefix takes over a gigabyte).
function(qp_wine_prefix_fixture name prefix servers)
  add_test(NAME ${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tools/make-wineprefix ${QP_RUN_WINE} ${prefix} ${servers})
  add_test(NAME ${name}_removed COMMAND ${CMAKE_SOURCE_DIR}/tools/remove-wineprefix ${prefix})
  qp_time_limit(limit 300)
  set_tests_properties(${name} PROPERTIES FIXTURES_SETUP ${name} TIMEOUT ${limit})
  set_tests_properties(${name}_removed PROPERTIES FIXTURES_CLEANUP ${name})
  set_tests_properties(${name} ${name}_removed PROPERTIES LABELS wine RESOURCE_LOCK ${name})
endfunction()

# qp_add_gtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [FIXTURES ...] [TIME_LIMIT seconds])
# Native: an ordinary test. Windows: run by CTest under Wine in a copy of the build tree's
# prepared prefix of its own (made by the fixture that registers the servers), with the shared
# main whose watchdog ends the program after TIME_LIMIT seconds (default 180, scaled where
# emulated), well before CTest's own limit.
function(qp_add_gtest name)
  cmake_parse_arguments(T "" "TIME_LIMIT" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
  qp_use_googletest()
  add_executable(${name} ${T_SOURCES})
  if(WIN32)
    if(NOT T_TIME_LIMIT)
      set(T_TIME_LIMIT 180)
    endif()
    qp_time_limit(T_TIME_LIMIT ${T_TIME_LIMIT})
    target_link_libraries(${name} PRIVATE ${T_LIBS} qp_test_main gtest gmock)
    add_test(NAME ${name}
             COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-in-own-prefix ${QP_RUN_WINE} ${QP_WINEPREFIX}
                     ${QP_WINEPREFIX}-${name} ${T_TIME_LIMIT} $<TARGET_FILE:${name}>)
    # Beside the server, so that the language folder "1033" is found the same way.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    qp_time_limit(ctest_margin 120)
    math(EXPR ctest_limit "${T_TIME_LIMIT} + ${ctest_margin}")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "wineprefix;${T_FIXTURES}"
                                            RESOURCE_LOCK wineprefix
                                            TIMEOUT ${ctest_limit})
    set(T_LABELS wine ${T_LABELS})
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set(T_LABELS native ${T_LABELS})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
endfunction()
