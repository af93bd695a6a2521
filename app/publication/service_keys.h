// The Redis keys and channels the service writes, suffixed with its instance name when the
// configuration file gives one ("instance": "frente" turns "ctx:dados_modulo_Lidar" into
// "ctx:dados_modulo_Lidar:frente"), so that two services, one per LiDAR of a robot, write apart.
#pragma once

#include <string>

namespace app {

// Set once at start, before any thread that publishes starts; "" (the default) keeps the keys
// as they are.
void set_service_instance(const std::string& instance);
const std::string& service_instance();

// `base` with ":<instance>" after it when an instance is set.
std::string service_key(const char* base);

}  // namespace app
