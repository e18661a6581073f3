#pragma once

#include "core/core.hpp"
#include "core/logger.hpp"

namespace tvk {
namespace libs {
namespace core {

class core_impl : public core {
public:
    explicit core_impl(const logger& _logger);

    events_loop::ptr create_events_loop(const std::string& _name) override;

private:
    std::unique_ptr<component_logger> m_logger;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
