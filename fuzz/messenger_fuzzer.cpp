// The messenger's "user_msg" and "notify" handlers: the input goes to both as one message,
// with every callback set and a recording stand-in for the HTTP client. The frames it posts
// must be well-formed acknowledgements of what the devices sent.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "core/exception.hpp"
#include "core/json.hpp"
#include "fuzz_support.hpp"
#include "hex_frame.hpp"
#include "messenger_impl.hpp"
#include "stream_and_client_stand_ins.hpp"

namespace {

namespace core = tvk::libs::core;

const char* const entry = "tvk::messenger_impl";

// Every post must be the JSON body of one frame: {"data":{"hex":<frame>},"uid":<device>}.
void check_posts(const service_test::fake_client& _client, std::size_t _from,
                 unsigned int _expected_seq_no) {
    for (std::size_t i = _from; i < _client.m_requests.size(); ++i) {
        const auto& request = _client.m_requests[i];
        const auto body = core::json::try_parse(request.body);
        if (!body.ok || !body.result["uid"].isString() || !body.result["data"]["hex"].isString()) {
            fuzz::property_failed(entry, "a post that is not a frame body: " + request.body);
        }
        const std::string frame = body.result["data"]["hex"].asString();
        if (frame != tvk::hex_frame::form_ack(_expected_seq_no)) {
            fuzz::property_failed(entry, "a post that is not the acknowledgement: " + frame);
        }
    }
}

// What reading a frame that ends before one of its fields raises.
bool short_frame(const std::exception& _e) {
    return dynamic_cast<const std::out_of_range*>(&_e) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    const std::string text = fuzz::text_of(_data, _size);
    service_test::fake_stream stream;
    service_test::fake_client client;
    // An odd first byte makes the server refuse the posts, so that the error path runs too.
    if (_size > 0 && (_data[0] & 1) != 0) {
        client.m_answer = core::http::result("refused", 500);
    }
    tvk::messenger_impl messenger(stream, client, fuzz::quiet_logger());

    bool registered = false;
    messenger.set_on_reboot([](const std::string&) {});
    messenger.set_on_heartbeat([](const std::string&) {});
    messenger.set_on_ack([](const std::string&, unsigned int _seq_no, core::timestamp) {
        if (_seq_no > 0xFF) {
            fuzz::property_failed(entry, "an acknowledged number beyond a byte");
        }
    });
    messenger.set_on_nack(
        [](const std::string&, unsigned int _seq_no, unsigned int _error_code, core::timestamp) {
            if (_seq_no > 0xFF || _error_code > 0xFF) {
                fuzz::property_failed(entry, "a refusal field beyond a byte");
            }
        });
    messenger.set_on_register_tag(
        [&](const std::string&, const std::string&, core::timestamp) { registered = true; });

    // Not JSON, a top-level value that is not an object, or a frame that ends before a field
    // it needs: the events loop logs what is raised.
    for (const char* topic : {"user_msg", "notify"}) {
        fuzz::reporting_unexpected(
            entry, [&] { stream.deliver(topic, text); }, short_frame);
    }

    // Only a registration is answered, with one acknowledgement of its own number.
    if (client.m_requests.size() > 1 || (client.m_requests.size() == 1) != registered) {
        fuzz::property_failed(entry, "posts that no registration asked for");
    }
    if (registered) {
        const auto parsed = core::json::try_parse(text);
        const auto header = tvk::hex_frame::read_header(parsed.result["hex"].asString());
        check_posts(client, 0, header ? header->seq_no : 0);
    }
    return 0;
}
