#pragma once

#include <memory>
#include <string>

#include "core/events_loop.hpp"
#include "core/logger.hpp"

namespace tvk {
namespace libs {
namespace core {

// The library's entry object: made once from the root logger, it makes the events loops.
// It must outlive every loop it made, and the root logger must outlive it.
class core {
public:
    using ptr = std::unique_ptr<core>;

    // A core whose loops log through the component logger "core".
    static ptr create(const logger& _logger);

    virtual ~core() = default;
    // A new events loop; the name only documents the loop's use.
    virtual events_loop::ptr create_events_loop(const std::string& _name) = 0;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
