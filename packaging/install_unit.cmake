# Runs at install time, so the units name the paths of the prefix actually installed to
# (cmake --install BUILD --prefix DIR), while DESTDIR only moves where the files are written.
set(LIDAR_BIN_DIR "${CMAKE_INSTALL_PREFIX}/bin")
set(LIDAR_CONFIG_DIR "${CMAKE_INSTALL_PREFIX}/etc/lidar-obstacle")
set(LIDAR_DOC_DIR "${CMAKE_INSTALL_PREFIX}/share/doc/lidar-obstacle")
set(unit_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system")

# One unit for the robot's one LiDAR, and a template for a robot with several: instance NAME
# (lidar-obstacle@NAME.service) reads NAME.json and keeps its own state directory.
set(LIDAR_UNIT_DESCRIPTION "")
set(LIDAR_UNIT_CONFIG "lidar_config.json")
set(LIDAR_UNIT_STATE "lidar-obstacle")
configure_file("${LIDAR_UNIT_TEMPLATE}" "${unit_dir}/lidar-obstacle.service" @ONLY)
message(STATUS "Installing: ${unit_dir}/lidar-obstacle.service")
set(LIDAR_UNIT_DESCRIPTION " (%i)")
set(LIDAR_UNIT_CONFIG "%i.json")
set(LIDAR_UNIT_STATE "lidar-obstacle/%i")
configure_file("${LIDAR_UNIT_TEMPLATE}" "${unit_dir}/lidar-obstacle@.service" @ONLY)
message(STATUS "Installing: ${unit_dir}/lidar-obstacle@.service")

# The operator's configuration is never overwritten; the example beside it always is.
set(config_dir "$ENV{DESTDIR}${LIDAR_CONFIG_DIR}")
if(NOT EXISTS "${config_dir}/lidar_config.json")
  file(COPY_FILE "${config_dir}/lidar_config.example.json" "${config_dir}/lidar_config.json")
  message(STATUS "Installing: ${config_dir}/lidar_config.json")
else()
  message(STATUS "Keeping: ${config_dir}/lidar_config.json")
endif()
