# Warnings for our own code only; third-party headers come in as SYSTEM.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra)

set(LIDAR_SANDBOX "${PROJECT_SOURCE_DIR}/tools/sandbox/netns-run")
# What runs a test program built here: nothing on Linux, Wine for the Windows cross build.
set(LIDAR_TEST_LAUNCHER ${CMAKE_CROSSCOMPILING_EMULATOR})

# A test that opens no socket runs as it is. Under Wine every program runs in the sandbox: Wine's
# server opens a Windows program's sockets in the server's own network namespace, so no Wine
# server may ever start outside it (tools/sandbox/netns-run --wine).
function(lidar_add_test name target)
  if(LIDAR_TEST_LAUNCHER)
    add_test(NAME ${name}
             COMMAND ${LIDAR_SANDBOX} --wine -- ${LIDAR_TEST_LAUNCHER} $<TARGET_FILE:${target}> ${ARGN})
  else()
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${target}> ${ARGN})
  endif()
endfunction()

# A test that opens a socket runs only inside a private network namespace.
# lidar_add_sandboxed_test(name target [VETH] [ARGS ...])
function(lidar_add_sandboxed_test name target)
  cmake_parse_arguments(SB "VETH" "" "ARGS" ${ARGN})
  set(mode "")
  if(SB_VETH)
    list(APPEND mode "--veth")
  endif()
  if(LIDAR_TEST_LAUNCHER)
    list(APPEND mode "--wine")
  endif()
  add_test(NAME ${name}
           COMMAND ${LIDAR_SANDBOX} ${mode} -- ${LIDAR_TEST_LAUNCHER} $<TARGET_FILE:${target}>
                   ${SB_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS sandbox)
endfunction()

# gtest executable linked against what it tests.
function(lidar_gtest target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock project_warnings)
endfunction()
