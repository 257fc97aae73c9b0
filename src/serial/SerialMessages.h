#pragma once

#include "app/OperatorTexts.h"

// What only the serial road tells the operator, spelled as the operator has always read it.
namespace tarvik {

inline constexpr const char* kPortUnavailable = "Serial Port is unavaible!";
inline constexpr const char* kPortLost = "The serial port was closed or failed.";
inline constexpr const char* kSendThreadFail = "SendThread fail!";
inline constexpr const char* kReceiveThreadFail = "ReceiveThread fail!";
inline constexpr const char* kSearching = "Search Device...";
inline constexpr const char* kDeviceFound = " Device Found!";

}  // namespace tarvik
