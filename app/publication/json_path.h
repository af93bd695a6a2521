// Setting one member of a JSON document by a separator-joined path of member names.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace app {

// Walks (creating as needed) the objects named by the path's leading parts and sets its last
// member to the value text parsed as JSON, or to a string holding the text when it does not
// parse. A member on the way that is not an object is replaced by an empty object.
void set_json_path(nlohmann::json& document, const std::string& path,
                   const std::string& value_text, const std::string& separator);

}  // namespace app
