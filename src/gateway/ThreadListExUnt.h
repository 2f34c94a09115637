#pragma once
#include <deque>
#include <mutex>

// A list with its own lock, shared between the main thread and the protocol workers.
template <typename T> class TThreadListEx {
public:
    // Appends; returns the new count.
    size_t Add(T item)
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_items.push_back(std::move(item));
        return m_items.size();
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_items.size();
    }
    // Checking for and taking the first item is one step, so two takers never get the same one.
    bool TakeFirst(T &out)
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_items.empty())
            return false;
        out = std::move(m_items.front());
        m_items.pop_front();
        return true;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_items.clear();
    }
    // Runs fn on the locked list.
    template <typename Fn> auto LockList(Fn &&fn)
    {
        std::lock_guard<std::mutex> g(m_lock);
        return fn(m_items);
    }

private:
    mutable std::mutex m_lock;
    std::deque<T> m_items;
};
