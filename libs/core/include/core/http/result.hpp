#pragma once

#include <boost/optional.hpp>
#include <string>
#include <utility>

namespace tvk {
namespace libs {
namespace core {
namespace http {

// The outcome of one request: a status code with the body as data (2xx) or as error (any
// other code), or only the text of a transfer error.
class result {
public:
    // An answer: _data becomes data() when _status_code is 2xx, error() otherwise.
    result(std::string _data, int _status_code) : m_code(_status_code) {
        if (ok()) {
            m_data = std::move(_data);
        } else {
            m_error = std::move(_data);
        }
    }
    // A transfer that failed: no status code.
    explicit result(std::string _error) : m_error(std::move(_error)) {}

    // Whether the status code lies in 200..299; false without one.
    bool ok() const {
        const int code = m_code.value_or(-1);
        return code >= 200 && code <= 299;
    }
    const boost::optional<int>& status_code() const { return m_code; }
    boost::optional<const std::string&> data() const& {
        return m_data ? boost::optional<const std::string&>(*m_data) : boost::none;
    }
    boost::optional<std::string> data() && { return std::move(m_data); }
    boost::optional<std::string> error() const { return m_error; }

private:
    boost::optional<int> m_code;
    boost::optional<std::string> m_data;
    boost::optional<std::string> m_error;
};

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
