#pragma once

#include <filesystem>
#include <string>

namespace tarvik::win {

// A port's place in the list of ports this process holds, by its name in capitals without the
// device prefix ("COM3" and "\\.\com3" are one port). Windows refuses a second opener of a
// COM port by itself; Wine does not for the terminals it maps to COM names, so the process
// keeps its own list as well. Held from a successful claim until Give or destruction.
class PortClaim {
public:
    explicit PortClaim(const std::filesystem::path& device);
    ~PortClaim() { Give(); }
    PortClaim(PortClaim&& other) noexcept;
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

    explicit operator bool() const { return m_held; }

    void Give();

private:
    std::wstring m_name;
    bool m_held = false;
};

}  // namespace tarvik::win
