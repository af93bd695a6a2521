# libFuzzer targets (tests/fuzz). With LIDAR_FUZZ on, the whole build is compiled by clang with
# coverage instrumentation, AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target
# links libFuzzer's driver. With it off, the same targets are built as corpus replayers that run
# their seed and regression inputs as ordinary tests.
option(LIDAR_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(LIDAR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "LIDAR_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g1)
  add_link_options(-fsanitize=address,undefined)
  set(LIDAR_BUILD_BENCHMARKS OFF)
endif()
