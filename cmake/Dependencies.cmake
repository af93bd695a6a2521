# Every dependency comes from a Debian 12 package (scripts/install-deps).
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(RapidJSON REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIREDIS REQUIRED IMPORTED_TARGET hiredis)
pkg_check_modules(PCAP REQUIRED IMPORTED_TARGET libpcap)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

# Debian's VTK CMake files name an MPI target that nothing here provides.
if(NOT TARGET MPI::MPI_C)
  add_library(MPI::MPI_C INTERFACE IMPORTED)
endif()
find_package(PCL 1.13 REQUIRED COMPONENTS common filters visualization)

if(BUILD_TESTING)
  find_package(GTest REQUIRED)
endif()
if(LIDAR_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

# RapidJSON's config only sets include variables; give it a target.
if(NOT TARGET rapidjson_headers)
  add_library(rapidjson_headers INTERFACE)
  target_include_directories(rapidjson_headers SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIRS})
endif()

# PCL as one interface target, kept to the few files that need it.
if(NOT TARGET pcl_deps)
  add_library(pcl_deps INTERFACE)
  target_include_directories(pcl_deps SYSTEM INTERFACE ${PCL_INCLUDE_DIRS})
  target_link_directories(pcl_deps INTERFACE ${PCL_LIBRARY_DIRS})
  target_compile_definitions(pcl_deps INTERFACE ${PCL_DEFINITIONS})
  target_link_libraries(pcl_deps INTERFACE ${PCL_LIBRARIES})
endif()
