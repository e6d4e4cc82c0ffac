// Result codes of the program's own steps: 0 is success, anything else a
// failure. Negative values follow the component runtime's convention.
#pragma once

#include <cstdint>

namespace quorvel {

using Status = std::int32_t;

inline constexpr Status kOk = 0;
// Unspecified failure (the runtime's E_FAIL).
inline constexpr Status kFail = static_cast<Status>(0x80004005u);

}  // namespace quorvel
