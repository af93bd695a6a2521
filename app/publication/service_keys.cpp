#include "service_keys.h"

namespace app {
namespace {

// Written before the publishing threads start and only read afterwards.
std::string instance_name;

}  // namespace

void set_service_instance(const std::string& instance) { instance_name = instance; }

const std::string& service_instance() { return instance_name; }

std::string service_key(const char* base) {
  return instance_name.empty() ? std::string(base) : std::string(base) + ":" + instance_name;
}

}  // namespace app
