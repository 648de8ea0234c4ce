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

# qp_add_gtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [FIXTURES ...] [TIME_LIMIT seconds])
# Native: an ordinary test. Windows: run by CTest under Wine in a copy of the build tree's
# prepared prefix of its own (made by the fixture that registers the servers), with the shared
# main whose watchdog ends the program after TIME_LIMIT seconds (default 180), well before
# CTest's own limit.
function(qp_add_gtest name)
  cmake_parse_arguments(T "" "TIME_LIMIT" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
  qp_use_googletest()
  add_executable(${name} ${T_SOURCES})
  if(WIN32)
    if(NOT T_TIME_LIMIT)
      set(T_TIME_LIMIT 180)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} qp_test_main gtest gmock)
    add_test(NAME ${name}
             COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-in-own-prefix ${QP_RUN_WINE} ${QP_WINEPREFIX}
                     ${QP_WINEPREFIX}-${name} ${T_TIME_LIMIT} $<TARGET_FILE:${name}>)
    # Beside the server, so that the language folder "1033" is found the same way.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    math(EXPR ctest_limit "${T_TIME_LIMIT} + 120")
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
