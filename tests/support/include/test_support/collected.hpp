#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace test_support {

// Items that a fixture's own thread receives and tests read or wait for; thread-safe.
template <class Item>
class collected {
public:
    void add(Item _item) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.push_back(std::move(_item));
        m_changed.notify_all();
    }

    // The items so far, in order of arrival.
    std::vector<Item> items() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_items;
    }

    std::size_t size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_items.size();
    }

    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.clear();
    }

    // Waits until _predicate holds for the items so far; false at the deadline.
    template <class Predicate>
    bool wait_for(Predicate&& _predicate, std::chrono::milliseconds _timeout) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, _timeout, [&] { return _predicate(m_items); });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Item> m_items;
};

}  // namespace test_support
