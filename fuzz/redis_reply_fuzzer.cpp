// hiredis's reply reader, limited as the service's and the core library's readers are, fed
// the raw bytes of the input, then every view of each reply it gives: the service's
// (src/redis) and the core library's. Both must agree on every reply.
#include <hiredis/hiredis.h>

#include <boost/optional.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/exception.hpp"
#include "core/redis/reader.hpp"
#include "core/redis/reply.hpp"
#include "fuzz_support.hpp"
#include "redis/reply.hpp"
#include "redis/reply_type.hpp"

namespace {

namespace core_redis = tvk::libs::core::redis;

const char* const entry = "the redis reply views";

struct reader_deleter {
    void operator()(redisReader* _reader) const noexcept { redisReaderFree(_reader); }
};

// Runs _read; the views raise the core exception for a reply of another type.
template <class Read>
void guarded(Read&& _read) {
    fuzz::reporting_unexpected(entry, _read);
}

// Reads _service and _core, two views of one reply, with every reader, and compares them.
void read(const tvk::redis::reply_element& _service, const core_redis::reply_element& _core) {
    if (static_cast<int>(_service.get_type()) != static_cast<int>(_core.get_type())) {
        fuzz::property_failed(entry, "the two views see two types");
    }
    (void)tvk::redis::to_string(_service.get_type());
    (void)core_redis::to_string(_core.get_type());

    boost::optional<std::string> service_text;
    boost::optional<std::string> core_text;
    guarded([&] { service_text = _service.to_string(); });
    guarded([&] { core_text = _core.to_string(); });
    guarded([&] { (void)_core.as_string_view(); });
    const auto view = _core.try_string_view();
    if (service_text != core_text || view.has_value() != core_text.has_value()) {
        fuzz::property_failed(entry, "the two views read two texts");
    }

    long long service_number = 0;
    long long core_number = 0;
    guarded([&] { service_number = _service.to_integer(); });
    guarded([&] { core_number = _core.to_long_long(); });
    guarded([&] { (void)_core.to_int(); });
    if (service_number != core_number) {
        fuzz::property_failed(entry, "the two views read two numbers");
    }

    guarded([&] {
        const auto service_array = _service.as_array();
        const auto core_array = _core.as_array();
        if (service_array.size() != core_array.size()) {
            fuzz::property_failed(entry, "the two views count two sizes");
        }
        for (std::size_t i = 0; i < core_array.size(); ++i) {
            read(service_array[i], core_array[i]);
        }
        guarded([&] { (void)service_array[service_array.size()]; });
        guarded([&] { (void)core_array[core_array.size()]; });
        std::size_t walked = 0;
        service_array.for_each_element([&](const tvk::redis::reply_element&) {
            ++walked;
            return true;
        });
        core_array.for_each_element([&](const core_redis::reply_element&) {
            ++walked;
            return true;
        });
        if (walked != 2 * core_array.size()) {
            fuzz::property_failed(entry, "a walk that misses elements");
        }
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    const std::unique_ptr<redisReader, reader_deleter> reader(redisReaderCreate());
    core_redis::limit_array_replies(*reader);
    if (redisReaderFeed(reader.get(), reinterpret_cast<const char*>(_data), _size) != REDIS_OK) {
        return 0;
    }
    for (;;) {
        void* raw = nullptr;
        if (redisReaderGetReply(reader.get(), &raw) != REDIS_OK || raw == nullptr) {
            return 0;
        }
        // The service's reply owns it; the core view looks at the same reply.
        const tvk::redis::reply owner(static_cast<redisReply*>(raw));
        read(owner, core_redis::reply_element(*static_cast<const redisReply*>(raw)));
    }
}
