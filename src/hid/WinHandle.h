#pragma once

#include <windows.h>

namespace tarvik::win {

// Owns one kernel handle and closes it on every way out. Both of the system's "no handle"
// values count as none: CreateFileW answers INVALID_HANDLE_VALUE, CreateEventW nullptr.
class WinHandle {
public:
    WinHandle() = default;
    explicit WinHandle(HANDLE handle) : m_handle(handle) {}
    ~WinHandle() { Reset(); }
    WinHandle(WinHandle&& other) noexcept : m_handle(other.Release()) {}
    WinHandle& operator=(WinHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    WinHandle(const WinHandle&) = delete;
    WinHandle& operator=(const WinHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }

    HANDLE Release() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (Valid()) {
            CloseHandle(m_handle);
        }
        m_handle = handle;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

}  // namespace tarvik::win
