#pragma once

#include <memory>

#include "hid/HidTransport.h"

namespace tarvik {

// The HID devices of the system the program was built for: hidapi's hidraw backend on
// Linux, SetupAPI and the HID class calls on Windows. One lives per process; make it on the
// main thread before any other thread touches HID, and destroy every device it opened first.
std::unique_ptr<HidTransport> MakeSystemHidTransport();

}  // namespace tarvik
