#pragma once

#include <json/json.h>

#include "context_utils/parsers/pos.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A position message over its whole JSON, which stays the caller's and must outlive the view
// and the texts it gives.
class pos_impl : public pos {
public:
    explicit pos_impl(const Json::Value& _json_value);
    // The view refers into its JSON: a temporary would be gone before the first read.
    explicit pos_impl(const Json::Value&& _json_value) = delete;

    boost::string_view get_trackable_uid() override;
    timestamp get_ts() override;
    int get_x() override;
    int get_y() override;
    int get_z() override;
    boost::string_view get_type() override;
    boost::string_view get_sublocation_uid() override;
    unsigned int get_fom() override;
    boost::string_view get_mac() override;

private:
    const Json::Value& m_json_value;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
