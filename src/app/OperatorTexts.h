#pragma once

// Status texts and messages that more than one road shows, spelled as the operator has
// always read them.
namespace tarvik {

inline constexpr const char* kProgressing = "Progressing...";
inline constexpr const char* kDownloadFinished = "Download Finished!";
inline constexpr const char* kStopped = " Stop !!";
inline constexpr const char* kTimeoutFail = "Timeout fail!";
// Asked before a window closes on a running download.
inline constexpr const char* kConfirmStopDownload =
    "A download is running. Stop it and close the window?\n"
    "The device keeps no complete firmware until the next Run finishes.";

}  // namespace tarvik
