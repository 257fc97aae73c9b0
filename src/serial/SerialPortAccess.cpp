// The dialog's serial port: open by port index and baud index, write, read with a deadline.
#include <cstring>

#include "app/UpdaterDlg.h"
#include "serial/SerialMessages.h"

namespace tarvik {

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
        MessageBox(kPortUnavailable, std::nullopt, kMbIconHand);
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
    if (const auto port = Port()) {
        port->Write(data);
    }
    ClosePort();
    return true;
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
            MessageBox(kPortLost, "Fail");
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

}  // namespace tarvik
