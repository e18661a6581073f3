#pragma once

#include <boost/optional.hpp>
#include <utility>

namespace tvk {
namespace libs {
namespace core {

// The result of a walk over a collection.
enum class iteration_result { finished = 0, interrupted = 1 };

// An optional reference to the mapped value of _key; empty when the key is absent.
template <class K, class Map>
auto lookup(Map&& _map, const K& _key) -> boost::optional<decltype(_map.at(_map.begin()->first))&> {
    auto found = _map.find(_key);
    if (found == _map.end()) {
        return boost::none;
    }
    return found->second;
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
