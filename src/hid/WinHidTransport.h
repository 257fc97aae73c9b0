#pragma once

#include "hid/HidTransport.h"

namespace tarvik {

// The system's HID devices on Windows: the HID interface class through SetupAPI, and the
// HID class calls on the device paths it gives. Holds nothing of its own between calls, so
// unlike hidapi any number may live at once; the updater still makes one per process.
class WinHidTransport final : public HidTransport {
public:
    // One entry per HID interface present, in SetupAPI's order, with the attributes read
    // through a handle that has no access to the device (so that keyboards and mice, which
    // the system keeps for itself, still tell who they are); zero when even that fails.
    std::optional<std::vector<HidDeviceInfo>> Enumerate() override;
    // A read handle (overlapped) and a write handle on `path`; nothing unless both open.
    std::unique_ptr<HidDevice> Open(const std::string& path) override;
};

}  // namespace tarvik
