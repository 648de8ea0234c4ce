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

# qp_add_gtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [FIXTURES ...])
# Native: an ordinary test. Windows: run by CTest through the Wine emulator, in the build
# tree's prefix, after the fixture that makes the prefix and registers the servers.
function(qp_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
  qp_use_googletest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(WIN32)
    # Beside the server, so that the language folder "1033" is found the same way.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "wineprefix;${T_FIXTURES}"
                                            ENVIRONMENT "WINEPREFIX=${QP_WINEPREFIX}"
                                            RESOURCE_LOCK wineprefix
                                            TIMEOUT 600)
    set(T_LABELS wine ${T_LABELS})
  else()
    set(T_LABELS native ${T_LABELS})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
endfunction()
