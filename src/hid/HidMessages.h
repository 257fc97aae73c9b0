#pragma once

#include <cstdio>
#include <string>

#include "app/OperatorTexts.h"

// What only the USB road tells the operator, spelled as the operator has always read it.
namespace tarvik {

inline constexpr const char* kNotInBootMode = "Make sure the Device work under USB-Boot Mode";
inline constexpr const char* kNoHidHandle = "Couldn't get handle for HID devices";
inline constexpr const char* kNoHidAttributes = "Couldn't get HID attributes";
inline constexpr const char* kDeviceNotOpen = "Device not open!";
inline constexpr const char* kCouldNotSendData = "Couldn't send data  !";
inline constexpr const char* kNoAckBlockZero = "NO Ack1!";
inline constexpr const char* kHidWorkerFail = "HidDownloadThread fail!";
inline constexpr const char* kHidReaderFail = "HidReadThread fail!";

// printf-style texts with numbers in them.
template <typename... Args>
std::string HidText(const char* format, Args... args) {
    char text[96];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

}  // namespace tarvik
