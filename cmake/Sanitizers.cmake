# Sanitizer builds: LIDAR_SANITIZE names the sanitizers added to everything this project compiles
# and links, e.g. "address;undefined" or "thread". Third-party libraries come in uninstrumented.
set(LIDAR_SANITIZE "" CACHE STRING "Sanitizers for all our code: address;undefined or thread")

if(LIDAR_SANITIZE)
  if("thread" IN_LIST LIDAR_SANITIZE AND "address" IN_LIST LIDAR_SANITIZE)
    message(FATAL_ERROR "LIDAR_SANITIZE: thread and address cannot be combined")
  endif()
  list(JOIN LIDAR_SANITIZE "," lidar_sanitizers)
  # Frame pointers and line tables keep the reports readable at the optimisation level of the
  # build type.
  add_compile_options(-fsanitize=${lidar_sanitizers} -fno-omit-frame-pointer -g1)
  add_link_options(-fsanitize=${lidar_sanitizers})
  # g++ 12's maybe-uninitialized analysis misfires on the instrumented code inside libstdc++
  # (std::regex's automaton), which would fail a CI build with LIDAR_WERROR; the Release build
  # keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  # Undefined behaviour stays recoverable at compile time so that third-party reports can be
  # suppressed (tests/sanitizers/ubsan.supp); runs set UBSAN_OPTIONS=halt_on_error=1 so anything
  # else ends the test that hit it (scripts/test --ci does).
  # Timing benchmarks mean nothing under a sanitizer (this shadows the cached option).
  set(LIDAR_BUILD_BENCHMARKS OFF)
endif()
