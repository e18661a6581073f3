#pragma once

#include <curl/curl.h>

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace tvk {
namespace libs {
namespace core {
namespace http {

struct curl_share_deleter {
    void operator()(CURLSH* _share) const noexcept { curl_share_cleanup(_share); }
};

struct curl_easy_deleter {
    void operator()(CURL* _handle) const noexcept { curl_easy_cleanup(_handle); }
};

// A libcurl share handle for connections, cookies, DNS and TLS sessions, with one mutex per
// lock-data kind.
class shared_curl_data {
public:
    shared_curl_data();
    shared_curl_data(const shared_curl_data&) = delete;
    shared_curl_data& operator=(const shared_curl_data&) = delete;

    CURLSH* get_ptr() const { return m_data.get(); }

private:
    static void lock(CURL* _handle, curl_lock_data _data, curl_lock_access _access,
                     void* _user) noexcept;
    static void unlock(CURL* _handle, curl_lock_data _data, void* _user) noexcept;

    std::unique_ptr<CURLSH, curl_share_deleter> m_data;
    std::array<std::mutex, 8> m_mutexes;
};

// One shared_curl_data per thread that performs requests. libcurl does not support sharing a
// connection cache (or cookies) between threads that run transfers at the same time, and an
// easy handle takes a single share handle; so each thread keeps its own connections, cookies,
// DNS and TLS-session caches, and successive requests of one thread reuse its connections.
// A thread also keeps one easy handle for its blocking requests, which saves making and
// freeing one per request.
class thread_curl_shares {
public:
    // The calling thread's share data, made on its first request. Thread-safe.
    shared_curl_data& get();
    // The calling thread's easy handle, made on its first call; only that thread uses it, one
    // request at a time. Raises check_failed_exception when it cannot be made. Thread-safe.
    CURL* easy_handle();

private:
    struct thread_data {
        shared_curl_data share;
        // Freed before the share that it uses.
        std::unique_ptr<CURL, curl_easy_deleter> easy;
    };
    thread_data& data();

    std::mutex m_mutex;
    std::map<std::thread::id, std::unique_ptr<thread_data>> m_shares;
};

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
