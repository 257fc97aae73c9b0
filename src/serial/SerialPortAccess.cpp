// The dialog's serial port: open by port index and baud index, write, read with a deadline.
#include <cerrno>
#include <cstring>
#include <system_error>

#include "app/UpdaterDlg.h"
#include "serial/SerialMessages.h"

namespace tarvik {

std::optional<std::string> PortOpenFailureReason(const std::filesystem::path& device, int error,
                                                 const std::string& systemText) {
    if (error == 0) {
        return std::nullopt;
    }
    const std::string path = device.string();
    if (error == ENOENT || error == ENODEV || error == ENXIO) {
        return path + " does not exist.";
    }
    if (error == EACCES || error == EPERM) {
#ifdef _WIN32
        // Windows has no such group; its ports refuse a second opener, which is EBUSY.
        return path + ": permission denied.";
#else
        return path +
               ": permission denied. Serial ports belong to the dialout group: sudo adduser "
               "$USER dialout, then log in again.";
#endif
    }
    // EBUSY from a terminal held with TIOCEXCL, EWOULDBLOCK from a lock another open holds.
    if (error == EBUSY || error == EWOULDBLOCK) {
        return path + " is held by another program.";
    }
    if (error == ENOTTY) {
        return path + " is not a serial port.";
    }
    return path + ": " +
           (systemText.empty() ? std::generic_category().message(error) : systemText) + ".";
}

bool CUpdaterDlg::OpenSerialPort() {
    {
        std::lock_guard lock(m_dataLock);
        m_hComm.reset();
    }
    UpdateData(true);
    int portIndex = 0;
    int baudIndex = 0;
    {
        std::lock_guard lock(m_dataLock);
        portIndex = m_nPort;
        baudIndex = m_nBaud;
    }
    const auto device = m_links.ports ? m_links.ports->Resolve(portIndex) : std::nullopt;
    SerialOpenResult opened;
    if (device && m_links.serial) {
        opened = m_links.serial->Open(*device, BaudRateOfIndex(baudIndex));
    }
    if (!opened.port) {
        std::string text = kPortUnavailable;
        if (const auto reason =
                device ? PortOpenFailureReason(*device, opened.error.error, opened.error.systemText)
                       : std::nullopt) {
            text += "\n" + *reason;
        }
        MessageBox(text, std::nullopt, kMbIconHand);
        return false;
    }
    std::lock_guard lock(m_dataLock);
    m_hComm = std::move(opened.port);
    return true;
}

bool CUpdaterDlg::WriteSerialOnce(std::span<const std::uint8_t> data) {
    if (!OpenSerialPort()) {
        return false;
    }
    const auto port = Port();
    const bool written = port && WriteOrTell(*port, data);
    ClosePort();
    return written;
}

int CUpdaterDlg::ReadSerial(char* buffer, int count, std::uint32_t timeout) {
    const auto port = Port();
    const auto deadline = m_clock.Now() + std::chrono::milliseconds(timeout);
    while (port) {
        if (m_clock.Now() > deadline) {
            break;
        }
        const auto got = port->Read(
            std::span(reinterpret_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(count)));
        if (!got) {
            // A closed or failed port answers at once; waiting out the deadline on it would
            // only spin.
            TellPortLost();
            return 0;
        }
        if (*got > 0) {
            buffer[*got] = '\0';
            return static_cast<int>(*got);
        }
    }
    MessageBox(kTimeoutFail, "Fail");
    return 0;
}

bool CUpdaterDlg::WriteSerialBytes(SerialPort& port, std::span<const std::uint8_t> data) {
    // One write request per byte: the loader takes its bytes one at a time.
    for (const std::uint8_t byte : data) {
        if (!port.Write(std::span(&byte, 1))) {
            return false;
        }
    }
    return true;
}

bool CUpdaterDlg::WriteOrTell(SerialPort& port, std::span<const std::uint8_t> data) {
    if (port.Write(data)) {
        return true;
    }
    TellPortLost();
    return false;
}

void CUpdaterDlg::TellPortLost() {
    if (!m_bCancel) {
        MessageBox(kPortLost, "Fail");
    }
}

}  // namespace tarvik
