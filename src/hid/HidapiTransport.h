#pragma once

#include "hid/HidTransport.h"

namespace tarvik {

// The system's HID devices through hidapi (hidraw on Linux).
//
// One instance lives per process: hidapi's hid_init and hid_exit act on the whole library,
// so a second transport alive at the same time would tear the library down under the first.
// Make it on the main thread before any other thread touches HID, and destroy every device
// it opened before it.
class HidapiTransport final : public HidTransport {
public:
    HidapiTransport();
    ~HidapiTransport() override;
    HidapiTransport(const HidapiTransport&) = delete;
    HidapiTransport& operator=(const HidapiTransport&) = delete;

    // Never nothing once hidapi is up: hidapi answers "no devices" and "cannot list" alike,
    // and both mean there is nothing to open.
    std::optional<std::vector<HidDeviceInfo>> Enumerate() override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

private:
    bool m_initialised = false;
};

}  // namespace tarvik
