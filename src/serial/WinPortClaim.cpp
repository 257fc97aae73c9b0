#include "serial/WinPortClaim.h"

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <set>
#include <utility>

namespace tarvik::win {
namespace {

std::mutex& HeldLock() {
    static std::mutex lock;
    return lock;
}

std::set<std::wstring>& Held() {  // under HeldLock()
    static std::set<std::wstring> held;
    return held;
}

}  // namespace

PortClaim::PortClaim(const std::filesystem::path& device) : m_name(device.wstring()) {
    for (const std::wstring prefix : {LR"(\\.\)", LR"(\\?\)"}) {
        if (m_name.starts_with(prefix)) {
            m_name.erase(0, prefix.size());
        }
    }
    std::transform(m_name.begin(), m_name.end(), m_name.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    std::lock_guard lock(HeldLock());
    m_held = Held().insert(m_name).second;
}

PortClaim::PortClaim(PortClaim&& other) noexcept
    : m_name(std::move(other.m_name)), m_held(std::exchange(other.m_held, false)) {}

void PortClaim::Give() {
    if (std::exchange(m_held, false)) {
        std::lock_guard lock(HeldLock());
        Held().erase(m_name);
    }
}

}  // namespace tarvik::win
