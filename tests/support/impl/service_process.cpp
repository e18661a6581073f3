#include "test_support/service_process.hpp"

namespace test_support {

Json::Value service_config(const location_site& _site, const temporary_directory& _directory,
                           const std::string& _debug_endpoint,
                           const std::vector<std::string>& _zone_types) {
    Json::Value config(Json::objectValue);
    config["system"]["pidfile"] = _directory.file("quillmere.pid");
    config["system"]["debug_port"] = _debug_endpoint;
    config["system"]["local_debug"] = false;
    config["proxy"]["output_port"] = _site.publisher().endpoint();
    config["server"]["url"] = _site.server().url();
    config["server"]["timeout"] = 5;
    config["redis"]["address"] = _site.redis().address();
    config["redis"]["port"] = _site.redis().port();
    config["zone_types"] = Json::Value(Json::arrayValue);
    for (const auto& type : _zone_types) {
        config["zone_types"].append(type);
    }
    config["debug"]["modify_server_state"] = true;
    return config;
}

service_process::service_process(const std::string& _binary, const temporary_directory& _directory,
                                 const Json::Value& _config)
    : m_config_file(_directory.write_file(
          "quillmere.json", Json::writeString(Json::StreamWriterBuilder(), _config))) {
    m_child =
        std::make_unique<child_process>(_binary, std::vector<std::string>{"-c", m_config_file});
}

service_process::~service_process() {
    stop();
}

bool service_process::stop(int _signal, std::chrono::milliseconds _timeout) {
    if (m_child->exited()) {
        return true;
    }
    m_child->send_signal(_signal);
    return m_child->wait(_timeout);
}

bool service_process::wait(std::chrono::milliseconds _timeout) {
    return m_child->wait(_timeout);
}

}  // namespace test_support
