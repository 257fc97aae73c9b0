#pragma once

// Status texts and messages that more than one road shows, spelled as the operator has
// always read them.
namespace tarvik {

inline constexpr const char* kProgressing = "Progressing...";
inline constexpr const char* kDownloadFinished = "Download Finished!";
inline constexpr const char* kStopped = " Stop !!";
inline constexpr const char* kTimeoutFail = "Timeout fail!";

}  // namespace tarvik
