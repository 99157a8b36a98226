// Byte vectors and views shared by every floor.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace tarnwick
