# Warnings for our own code only; third-party headers come in as SYSTEM. -Wconversion stays off:
# it names a few deliberate narrowings in the code and tests under g++, and with clang (the fuzz
# build) it also brings in every signed/unsigned conversion.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast)
# CI makes them errors (scripts/test --ci); a user's build, perhaps with a newer compiler that
# finds something new, only shows them.
option(LIDAR_WERROR "Treat warnings in the project's own code as errors (CI)" OFF)
if(LIDAR_WERROR)
  target_compile_options(project_warnings INTERFACE -Werror)
endif()

set(LIDAR_SANDBOX "${PROJECT_SOURCE_DIR}/tools/sandbox/netns-run")
# What runs a test program built here: nothing on Linux, Wine for the Windows cross build.
set(LIDAR_TEST_LAUNCHER ${CMAKE_CROSSCOMPILING_EMULATOR})

# What the sandbox needs to know about this build's test programs: Windows programs run under
# Wine get a Wine server of the sandbox's own.
set(LIDAR_SANDBOX_MODE "")
if(LIDAR_TEST_LAUNCHER)
  set(LIDAR_SANDBOX_MODE --wine)
endif()

# A test that opens no socket runs as it is. Under Wine every program runs in the sandbox: Wine's
# server opens a Windows program's sockets in the server's own network namespace, so no Wine
# server may ever start outside it.
function(lidar_add_test name target)
  if(LIDAR_TEST_LAUNCHER)
    add_test(NAME ${name} COMMAND ${LIDAR_SANDBOX} ${LIDAR_SANDBOX_MODE} -- ${LIDAR_TEST_LAUNCHER}
                                  $<TARGET_FILE:${target}> ${ARGN})
  else()
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${target}> ${ARGN})
  endif()
endfunction()

# A test that opens a socket runs only inside a private network namespace.
# lidar_add_sandboxed_test(name target [VETH] [ARGS ...])
function(lidar_add_sandboxed_test name target)
  cmake_parse_arguments(SB "VETH" "" "ARGS" ${ARGN})
  set(mode ${LIDAR_SANDBOX_MODE})
  if(SB_VETH)
    list(APPEND mode "--veth")
  endif()
  add_test(NAME ${name}
           COMMAND ${LIDAR_SANDBOX} ${mode} -- ${LIDAR_TEST_LAUNCHER} $<TARGET_FILE:${target}>
                   ${SB_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS sandbox)
endfunction()

# A sandboxed test that starts redis-server processes of its own. A Windows program cannot start
# the Linux server: there tests/app/publication/redis_control.py runs it on the test's requests.
# lidar_add_redis_test(name target [ARGS ...])
function(lidar_add_redis_test name target)
  cmake_parse_arguments(RT "" "" "ARGS" ${ARGN})
  set(controller "")
  if(LIDAR_TEST_LAUNCHER)
    set(controller python3 ${PROJECT_SOURCE_DIR}/tests/app/publication/redis_control.py --)
  endif()
  add_test(NAME ${name}
           COMMAND ${LIDAR_SANDBOX} ${LIDAR_SANDBOX_MODE} -- ${controller} ${LIDAR_TEST_LAUNCHER}
                   $<TARGET_FILE:${target}> ${RT_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS sandbox)
endfunction()

# gtest executable linked against what it tests. Test programs include their own support files
# by their path from the project root ("tests/...").
function(lidar_gtest target)
  add_executable(${target} ${ARGN})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock project_warnings)
endfunction()
