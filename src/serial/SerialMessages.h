#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/OperatorTexts.h"

// What only the serial road tells the operator, spelled as the operator has always read it.
namespace tarvik {

inline constexpr const char* kPortUnavailable = "Serial Port is unavaible!";
inline constexpr const char* kPortLost = "The serial port was closed or failed.";
inline constexpr const char* kSendThreadFail = "SendThread fail!";
inline constexpr const char* kReceiveThreadFail = "ReceiveThread fail!";
inline constexpr const char* kSearching = "Search Device...";
inline constexpr const char* kDeviceFound = " Device Found!";

// The line that follows kPortUnavailable when the system said why `device` would not open:
// `error` is the errno-style code of SerialOpenError, `systemText` the system's own words
// for an error without such a code. Nothing when there is no code.
std::optional<std::string> PortOpenFailureReason(const std::filesystem::path& device, int error,
                                                 const std::string& systemText = {});

}  // namespace tarvik
