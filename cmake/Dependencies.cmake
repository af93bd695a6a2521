# Every dependency comes from a Debian 12 package (scripts/install-deps); the Windows cross build
# takes hiredis and GoogleTest built for Windows and the header-only libraries from
# LIDAR_MINGW_PREFIX (scripts/install-deps --windows). Both give the same target names:
# fmt::fmt, spdlog::spdlog, nlohmann_json::nlohmann_json, rapidjson_headers, hiredis_deps,
# beast_deps (Boost's header-only Asio and Beast, the live view's HTTP and WebSocket server) and,
# where PCL is needed, pcl_deps.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

if(WIN32)
  # Header-only: fmt compiled into each user, spdlog on that external fmt.
  set(lidar_mingw_headers "${LIDAR_MINGW_PREFIX}/include")
  add_library(fmt::fmt INTERFACE IMPORTED)
  target_include_directories(fmt::fmt SYSTEM INTERFACE ${lidar_mingw_headers})
  target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY)
  add_library(spdlog::spdlog INTERFACE IMPORTED)
  target_compile_definitions(spdlog::spdlog INTERFACE SPDLOG_FMT_EXTERNAL)
  target_link_libraries(spdlog::spdlog INTERFACE fmt::fmt)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${lidar_mingw_headers})
  add_library(rapidjson_headers INTERFACE)
  target_include_directories(rapidjson_headers SYSTEM INTERFACE ${lidar_mingw_headers})
  find_package(hiredis 1.0 CONFIG REQUIRED)
  add_library(hiredis_deps INTERFACE)
  target_link_libraries(hiredis_deps INTERFACE hiredis::hiredis ws2_32)
  add_library(beast_deps INTERFACE)
  target_include_directories(beast_deps SYSTEM INTERFACE ${lidar_mingw_headers})
  # Windows 7 and later; Asio asks for the target version to be named.
  target_compile_definitions(beast_deps INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(beast_deps INTERFACE ws2_32 mswsock)
else()
  find_package(fmt REQUIRED)
  find_package(spdlog REQUIRED)
  find_package(nlohmann_json 3.10 REQUIRED)
  find_package(RapidJSON REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HIREDIS REQUIRED IMPORTED_TARGET hiredis)
  pkg_check_modules(PCAP REQUIRED IMPORTED_TARGET libpcap)
  pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
  add_library(hiredis_deps INTERFACE)
  target_link_libraries(hiredis_deps INTERFACE PkgConfig::HIREDIS)
  find_package(Boost 1.74 REQUIRED)
  add_library(beast_deps INTERFACE)
  target_link_libraries(beast_deps INTERFACE Boost::headers Threads::Threads)
  # g++ warns that ThreadSanitizer does not model the fence Asio puts around each handler. The
  # live view runs its context on one thread, so no handler relies on that fence to see another
  # thread's writes; what crosses threads goes through the feed's mutex, which it does model.
  if("thread" IN_LIST LIDAR_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(beast_deps INTERFACE -Wno-tsan)
  endif()

  # RapidJSON's config only sets include variables; give it a target.
  add_library(rapidjson_headers INTERFACE)
  target_include_directories(rapidjson_headers SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIRS})

  # Debian's VTK CMake files name an MPI target that nothing here provides.
  if(NOT TARGET MPI::MPI_C)
    add_library(MPI::MPI_C INTERFACE IMPORTED)
  endif()
  find_package(PCL 1.13 REQUIRED COMPONENTS common filters visualization)

  # PCL as one interface target, kept to the few files that need it.
  add_library(pcl_deps INTERFACE)
  target_include_directories(pcl_deps SYSTEM INTERFACE ${PCL_INCLUDE_DIRS})
  target_link_directories(pcl_deps INTERFACE ${PCL_LIBRARY_DIRS})
  target_compile_definitions(pcl_deps INTERFACE ${PCL_DEFINITIONS})
  target_link_libraries(pcl_deps INTERFACE ${PCL_LIBRARIES})
endif()

if(BUILD_TESTING)
  find_package(GTest REQUIRED)
endif()
if(LIDAR_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
