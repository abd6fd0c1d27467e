# Test helpers shared by every directory.
#
# orb_native_test(NAME SOURCES ... [LIBS ...])
#     A GoogleTest program for the native build, registered in CTest as native.NAME; does
#     nothing in the Windows configuration.
# orb_win_gtest(NAME SOURCES ... [LIBS ...])
#     A GoogleTest program cross-compiled for Windows (GoogleTest itself is built from
#     Debian's googletest sources with the same toolchain).
# orb_wine_test(NAME TARGET tgt [NETNS ns ADDR cidr] [WORKDIR] [COPY src=name ...]
#               [OVERRIDES str] [ENV k=v ...] [ARGS ...] [TIMEOUT s])
#     Registers wine.NAME: runs tgt under Wine through tools/wine-run.sh. With WORKDIR the
#     program runs in a fresh directory build/wine/work/NAME holding a copy of itself and the
#     COPY files; with NETNS inside a network namespace of its own. Reported as skipped
#     where the machine cannot run the build's Wine (tools/wine-env.sh).

set(ORB_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
set(ORB_WINE_RUN ${CMAKE_SOURCE_DIR}/tools/wine-run.sh)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ORB_WINE_ARCH win64)
else()
  set(ORB_WINE_ARCH win32)
endif()

if(ORB_WIN32)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
else()
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
endif()

function(orb_native_test name)
  # Native only: in the Windows configuration there is nothing to build it with.
  if(ORB_WIN32)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  add_test(NAME native.${name} COMMAND ${name})
  set_tests_properties(native.${name} PROPERTIES TIMEOUT 300)
endfunction()

function(orb_win_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
endfunction()

function(orb_wine_test name)
  cmake_parse_arguments(T "WORKDIR" "TARGET;NETNS;ADDR;OVERRIDES;TIMEOUT" "COPY;ENV;ARGS" ${ARGN})
  set(cmd ${ORB_WINE_RUN} --root ${ORB_WINE_ROOT} --arch ${ORB_WINE_ARCH})
  if(T_NETNS)
    list(APPEND cmd --netns ${T_NETNS})
    if(T_ADDR)
      list(APPEND cmd --addr ${T_ADDR})
    endif()
  endif()
  if(T_OVERRIDES)
    list(APPEND cmd --overrides "${T_OVERRIDES}")
  endif()
  foreach(e IN LISTS T_ENV)
    list(APPEND cmd --env "${e}")
  endforeach()
  if(T_WORKDIR)
    set(wd ${ORB_WINE_ROOT}/work/${name})
    list(APPEND cmd --workdir ${wd} --copy "$<TARGET_FILE:${T_TARGET}>=$<TARGET_FILE_NAME:${T_TARGET}>")
    foreach(c IN LISTS T_COPY)
      list(APPEND cmd --copy "${c}")
    endforeach()
    list(APPEND cmd -- ${wd}/$<TARGET_FILE_NAME:${T_TARGET}> ${T_ARGS})
  else()
    list(APPEND cmd -- $<TARGET_FILE:${T_TARGET}> ${T_ARGS})
  endif()
  add_test(NAME wine.${name} COMMAND ${cmd})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # 77: skipped, on a machine that cannot run the build's Wine (tools/wine-env.sh).
  set_tests_properties(wine.${name} PROPERTIES TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77)
endfunction()
