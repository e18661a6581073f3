#include "http/transfer.hpp"

#include <memory>
#include <mutex>
#include <string>

#include "core/constants.hpp"
#include "core/exception.hpp"
#include "http/shared_curl_data.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace http {

namespace {

// Resets the options of an easy handle that is used again; it keeps its connections.
struct curl_easy_resetter {
    void operator()(CURL* _handle) const noexcept { curl_easy_reset(_handle); }
};

struct curl_slist_deleter {
    void operator()(curl_slist* _list) const noexcept { curl_slist_free_all(_list); }
};

struct curl_global {
    curl_global() { curl_global_init(CURL_GLOBAL_ALL); }
    ~curl_global() { curl_global_cleanup(); }
};

// Appends a chunk of the answer; a failure to store it ends the transfer with a write error
// (nothing may be thrown through libcurl).
std::size_t write_answer(char* _data, std::size_t _size, std::size_t _count,
                         void* _answer) noexcept {
    try {
        static_cast<std::string*>(_answer)->append(_data, _size * _count);
        return _size * _count;
    } catch (...) {
        return 0;
    }
}

// Runs while the process starts, before main and so before any thread that could use libcurl.
const bool curl_ready = (ensure_curl_global_init(), true);

}  // namespace

void ensure_curl_global_init() {
    static const curl_global global;
    (void)global;
    (void)curl_ready;
}

result perform_transfer(const transfer_settings& _settings, method _method,
                        boost::string_view _address, boost::string_view _body, bool _disabled,
                        CURL* _easy) {
    // An own easy handle is made first and freed last. A given one is reset last, so that it
    // keeps no pointer to the header list, the body or the answer of this request; every
    // option is set again by the next one, as on a new handle.
    std::unique_ptr<CURL, curl_easy_deleter> own;
    std::unique_ptr<CURL, curl_easy_resetter> reused(_easy);
    if (_easy == nullptr) {
        own.reset(curl_easy_init());
    }
    CURL* const curl_handle = _easy != nullptr ? _easy : own.get();
    TVK_CHECK(curl_handle != NULL);
    std::unique_ptr<curl_slist, curl_slist_deleter> headers;

    if (!_body.empty()) {
        curl_slist* const list = curl_slist_append(nullptr, "content-type: application/json");
        TVK_CHECK(list != NULL);
        headers.reset(list);
        curl_easy_setopt(curl_handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(_body.size()));
        curl_easy_setopt(curl_handle, CURLOPT_POSTFIELDS, _body.data());
    }
    const char* const method_name = to_string(_method);
    std::string answer;
    const std::string url = std::string(_settings.base_address) + std::string(_address);

    curl_easy_setopt(curl_handle, CURLOPT_USERAGENT, constants::project_name.c_str());
    curl_easy_setopt(curl_handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl_handle, CURLOPT_CUSTOMREQUEST, method_name);
    curl_easy_setopt(curl_handle, CURLOPT_WRITEFUNCTION, &write_answer);
    curl_easy_setopt(curl_handle, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl_handle, CURLOPT_TIMEOUT, static_cast<long>(_settings.timeout.count()));
    curl_easy_setopt(curl_handle, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl_handle, CURLOPT_FOLLOWLOCATION, 1L);
    // Time-outs must not use signals in a program with threads.
    curl_easy_setopt(curl_handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_handle, CURLOPT_SHARE, _settings.share);
    curl_easy_setopt(curl_handle, CURLOPT_URL, url.c_str());

    long code = 200;
    if (!_disabled) {
        const CURLcode error = curl_easy_perform(curl_handle);
        if (error != CURLE_OK) {
            return result(std::string("curl_easy_perform failed:") + curl_easy_strerror(error));
        }
        curl_easy_getinfo(curl_handle, CURLINFO_RESPONSE_CODE, &code);
    }
    return result(std::move(answer), static_cast<int>(code));
}

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
