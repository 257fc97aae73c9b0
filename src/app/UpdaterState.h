#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace tarvik {

class SerialPort;
class HidDevice;

// Everything the updater keeps between its handlers and threads. The flags are atomic; the
// data-exchange members and strings are read and written under m_dataLock.
struct UpdaterState {
    std::shared_ptr<HidDevice> m_hHidRead;   // the boot-mode device, for the reader
    std::shared_ptr<HidDevice> m_hHidWrite;  // the boot-mode device, for output reports
    std::atomic<int> m_bHidReading{0};       // the HID reader runs while nonzero
    std::atomic<int> m_bHidAck{0};           // set by the HID reader on an acknowledgement
    std::shared_ptr<SerialPort> m_hComm;     // the open serial port, or none
    std::string m_strFileExt;                // extension of the chosen firmware, no dot
    std::atomic<std::uint8_t> m_bIdle{1};    // 1 while no serial search runs
    int m_nPort = -1;                        // 0 = USB, n = COMn, -1 = none
    int m_nBaud = -1;                        // baud index of the next serial open
    std::string m_strFileTitle;              // firmware name without folder and extension
    std::string m_strStatus;                 // the status line
    std::string m_strCradleId;               // cradle ID, 12 characters
    std::string m_strCmd4;                   // four-character maintenance command
    std::string m_strRawCmd;                 // raw maintenance text
    std::string m_strCommand;                // four-character command of the command edit
    std::filesystem::path m_strFileFolder;   // folder of the chosen firmware; kept beside
                                             // the title so the current directory stays ours

    mutable std::mutex m_dataLock;
};

}  // namespace tarvik
