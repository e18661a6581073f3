#pragma once

#include <json/json.h>

#include <boost/optional.hpp>
#include <boost/optional/optional_io.hpp>
#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "context_utils/objects_repository.hpp"
#include "core/exception.hpp"
#include "core/json.hpp"
#include "core/timestamp.hpp"
#include "json_value.hpp"

namespace context_utils_test {

// A sample file of tests/data, parsed.
inline Json::Value load_sample(const std::string& _relative_path) {
    const std::string path = std::string(CONTEXT_UTILS_TEST_DATA) + "/" + _relative_path;
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot open " + path);
    }
    std::stringstream text;
    text << file.rdbuf();
    return tvk::libs::core::json::parse(text.str(), TVK_SOURCE_LOCATION);
}

inline std::string read_sample(const std::string& _relative_path) {
    return tvk::libs::core::json::to_string(load_sample(_relative_path));
}

inline Json::Value parse(const std::string& _text) {
    return tvk::libs::core::json::parse(_text, TVK_SOURCE_LOCATION);
}

// One element of a REST answer sample, as the loader hands it on.
inline tvk::libs::context_utils::json_object rest_element(const std::string& _file,
                                                          const char* _key,
                                                          Json::ArrayIndex _index) {
    return tvk::libs::context_utils::json_object(load_sample(_file)[_key][_index]);
}

inline tvk::libs::context_utils::json_object json_object_of(const std::string& _text) {
    return tvk::libs::context_utils::json_object(parse(_text));
}

inline tvk::libs::context_utils::json_notify json_notify_of(const std::string& _text) {
    return tvk::libs::context_utils::json_notify(parse(_text));
}

// The message of the core exception that _f raises, or a note that it raised none.
inline std::string error_of(const std::function<void()>& _f) {
    try {
        _f();
    } catch (const tvk::libs::core::exception& e) {
        return e.get_string_error();
    } catch (const std::exception& e) {
        return std::string("other exception: ") + e.what();
    }
    return "no exception";
}

// The text of the std::logic_error that _f raises, or a note that it raised another or none.
inline std::string logic_error_of(const std::function<void()>& _f) {
    try {
        _f();
    } catch (const std::logic_error& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other exception: ") + e.what();
    }
    return "no exception";
}

// A value copied out of an optional reference, so that it can be compared.
template <class T>
boost::optional<T> copy_of(const boost::optional<const T&>& _value) {
    return _value ? boost::optional<T>(*_value) : boost::none;
}

// The uids of a repository's objects, in ascending order.
template <class T>
std::vector<std::string> uids_of(const tvk::libs::context_utils::objects_repository<T>& _objects) {
    std::vector<std::string> uids;
    _objects.for_each([&uids](const T& _object) {
        uids.push_back(_object.get_uid());
        return true;
    });
    return uids;
}

// ISO times whose seconds since the epoch do not fit 32 unsigned bits.
struct far_time {
    const char* text;
    std::int64_t seconds;
    unsigned int ms;

    tvk::libs::core::timestamp get_timestamp() const {
        return tvk::libs::core::timestamp(static_cast<time_t>(seconds), ms);
    }
};

inline const far_time far_times[] = {
    {"1960-01-01T00:00:00.000Z", -315619200, 0},
    {"1969-12-31T23:59:59.999Z", -1, 999},
    {"2107-01-01T00:00:00.000Z", 4323283200, 0},
};

// A getter under test and the message it must raise.
struct expected_error {
    const char* getter;
    std::function<void()> call;
    std::string message;
};

}  // namespace context_utils_test
