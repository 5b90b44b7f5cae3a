#include "tests/support/json_keys.h"

#include <nlohmann/json.hpp>

namespace ravlin::testing {

std::vector<std::string> keysInOrder(const std::string& json) {
    std::vector<std::string> keys;
    const auto parsed = nlohmann::ordered_json::parse(json);
    for (const auto& item : parsed.items()) {
        keys.push_back(item.key());
    }
    return keys;
}

}  // namespace ravlin::testing
