#pragma once

// What the maintenance commands tell the operator, spelled as the operator has always read it.
namespace tarvik {

inline constexpr const char* kCommandLengthError = "Command Length error!";
inline constexpr const char* kCradleIdLength = "Cradle ID must be 12 digits!";
inline constexpr const char* kUndiscoverDone = "Set undiscover Successfully";
inline constexpr const char* kCr02Format = "P0=%02X,P1=%02X,P2=%02X,P3=%02X,P4=%02X";
// Ours: a command must never take the port away from a download, nor slip into the pause
// between the search and the download.
inline constexpr const char* kRefusedDuringUpdate =
    "A firmware update is running; the command was not sent.";
inline constexpr const char* kRawTextTooLong =
    "The raw text is longer than 254 characters; nothing was sent.";

}  // namespace tarvik
