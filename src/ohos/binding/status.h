// Names of Node-API statuses, as thrown errors carry them in `code`.
#pragma once

#include <string_view>

namespace tarnwick::binding {

// status_name maps a Node-API status number to its name ("InvalidArg", ...);
// numbers outside 0..22 are "Unknown".
std::string_view status_name(int status) noexcept;

}  // namespace tarnwick::binding
