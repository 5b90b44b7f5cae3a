#pragma once

// The member names of an encoded JSON object, for tests of wire formats whose key order counts.

#include <string>
#include <vector>

namespace ravlin::testing {

// The top-level keys of the JSON object in `json`, in the order they are written.
[[nodiscard]] std::vector<std::string> keysInOrder(const std::string& json);

}  // namespace ravlin::testing
