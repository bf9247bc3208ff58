// Option values by name: the one lookup every enumeration of the command line shares.
#pragma once

#include <cstddef>
#include <string_view>

namespace dravik::swv {

// Sets `value` to the one of `values` that `nameOf` names `name`; false when none does.
template <typename Enum, size_t N, typename NameOf>
bool parseByName(std::string_view name, const Enum (&values)[N], NameOf nameOf,
                 Enum& value) noexcept {
    for (Enum candidate : values) {
        if (name == nameOf(candidate)) {
            value = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace dravik::swv
