#pragma once

#include <condition_variable>
#include <mutex>

namespace tarvik {

// What lets a port close under a thread blocked on it without ever touching a released
// descriptor or handle: operations enter the gate for their length, and Close shuts it, wakes
// whoever is inside by the port's own means, waits until nobody is, and only then releases.
class PortGate {
public:
    // One operation's stay; false when the port is closed, and the operation must not start.
    class Use {
    public:
        explicit Use(PortGate& gate) : m_gate(gate), m_entered(gate.Enter()) {}
        ~Use() {
            if (m_entered) {
                m_gate.Leave();
            }
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        explicit operator bool() const { return m_entered; }

    private:
        PortGate& m_gate;
        const bool m_entered;
    };

    // Shuts the gate once: `wake` runs at once, under the gate's lock, and must make every
    // wait inside end; `release` runs once nobody is inside, outside the lock. A second Close
    // returns only once the first has released the port.
    template <typename Wake, typename Release>
    void Close(Wake wake, Release release) {
        std::unique_lock lock(m_lock);
        if (m_closed) {
            m_changed.wait(lock, [this] { return m_released; });
            return;
        }
        m_closed = true;
        wake();
        m_changed.wait(lock, [this] { return m_active == 0; });
        lock.unlock();
        release();
        lock.lock();
        m_released = true;
        m_changed.notify_all();
    }

    bool IsOpen() const {
        std::lock_guard lock(m_lock);
        return !m_closed;
    }

private:
    bool Enter() {
        std::lock_guard lock(m_lock);
        if (m_closed) {
            return false;
        }
        ++m_active;
        return true;
    }

    void Leave() {
        std::lock_guard lock(m_lock);
        if (--m_active == 0) {
            m_changed.notify_all();
        }
    }

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_closed = false;
    bool m_released = false;
    int m_active = 0;
};

}  // namespace tarvik
