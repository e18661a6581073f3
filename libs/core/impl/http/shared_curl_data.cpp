#include "http/shared_curl_data.hpp"

#include <new>

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace http {

static_assert(CURL_LOCK_DATA_LAST <= 8, "one mutex per lock-data kind");

shared_curl_data::shared_curl_data() : m_data(curl_share_init()) {
    if (!m_data) {
        throw std::bad_alloc();
    }
    CURLSH* const share = m_data.get();
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &shared_curl_data::lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &shared_curl_data::unlock);
}

// Every lock is exclusive, whatever access libcurl asks for. Nothing may be thrown through
// libcurl: the kinds it passes are below CURL_LOCK_DATA_LAST, which the array covers.
void shared_curl_data::lock(CURL*, curl_lock_data _data, curl_lock_access, void* _user) noexcept {
    auto* self = static_cast<shared_curl_data*>(_user);
    if (static_cast<std::size_t>(_data) < self->m_mutexes.size()) {
        self->m_mutexes[static_cast<std::size_t>(_data)].lock();
    }
}

void shared_curl_data::unlock(CURL*, curl_lock_data _data, void* _user) noexcept {
    auto* self = static_cast<shared_curl_data*>(_user);
    if (static_cast<std::size_t>(_data) < self->m_mutexes.size()) {
        self->m_mutexes[static_cast<std::size_t>(_data)].unlock();
    }
}

thread_curl_shares::thread_data& thread_curl_shares::data() {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& data = m_shares[std::this_thread::get_id()];
    if (!data) {
        data = std::make_unique<thread_data>();
    }
    return *data;
}

shared_curl_data& thread_curl_shares::get() {
    return data().share;
}

CURL* thread_curl_shares::easy_handle() {
    // Only this thread reads or sets its own entry's handle.
    thread_data& mine = data();
    if (!mine.easy) {
        CURL* const curl_handle = curl_easy_init();
        TVK_CHECK(curl_handle != NULL);
        mine.easy.reset(curl_handle);
    }
    return mine.easy.get();
}

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
