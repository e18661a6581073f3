#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>

#include "context_utils/objects_repository.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// Owns the repository of one kind of location object and keeps it in step with the server:
// loaded while the manager is built, then changed by notify messages and periodic refreshes.
template <class T>
class objects_repository_manager {
public:
    typedef objects_repository<T> objects;

    // The elements that the first load left out, as far as they could be read.
    struct skipped_elements {
        // Of the elements whose uid could be read.
        std::set<std::string> uids;
        // An element was left out whose uid could not be read either: any uid not held may be
        // its.
        bool unknown_uids = false;
    };

    virtual ~objects_repository_manager() = default;

    // The repository; observers subscribe to it.
    virtual const objects& get_objects() const = 0;
    // No refresh starts until set_update_period is called again.
    virtual void disable_timer() = 0;
    // The next refresh comes one _period after now, then every _period.
    virtual void set_update_period(std::chrono::nanoseconds _period) = 0;
    // What the first load left out; later notices and refreshes do not change it.
    virtual const skipped_elements& get_skipped_at_load() const {
        static const skipped_elements none;
        return none;
    }
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
