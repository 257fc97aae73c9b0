#include "serial/TracingSerialPort.h"

#include <atomic>

namespace tarvik {
namespace {

class TracingSerialPort final : public SerialPort {
public:
    TracingSerialPort(std::shared_ptr<SerialPort> inner, WireTrace& trace, std::string device)
        : m_inner(std::move(inner)), m_trace(trace), m_device(std::move(device)) {}

    ~TracingSerialPort() override { Close(); }

    TracingSerialPort(const TracingSerialPort&) = delete;
    TracingSerialPort& operator=(const TracingSerialPort&) = delete;

    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
        const auto got = m_inner->Read(buf);
        if (got && *got > 0) {
            m_trace.Receive(buf.first(*got));
        }
        return got;
    }

    bool Write(std::span<const std::uint8_t> data) override {
        // Traced before it goes out: the device may answer before Write returns, and the
        // answer must not appear above the bytes it answers.
        if (!data.empty()) {
            m_trace.Transmit(data);
        }
        return m_inner->Write(data);
    }

    void Purge() override { m_inner->Purge(); }

    void Close() override {
        m_inner->Close();
        NoteClose("close ");
    }

    void Abort() override {
        // Noted first: a worker woken by the abort closes the port too, and the line must
        // say which came first.
        NoteClose("abort ");
        m_inner->Abort();
    }

    bool IsOpen() const override { return m_inner->IsOpen(); }

private:
    void NoteClose(const char* how) {
        if (!m_closeNoted.exchange(true)) {
            m_trace.Note(how + m_device);
        }
    }

    const std::shared_ptr<SerialPort> m_inner;
    WireTrace& m_trace;
    const std::string m_device;
    std::atomic<bool> m_closeNoted{false};
};

}  // namespace

TracingSerialPortOpener::TracingSerialPortOpener(SerialPortOpener& inner, WireTrace& trace)
    : m_inner(inner), m_trace(trace) {}

SerialOpenResult TracingSerialPortOpener::Open(const std::filesystem::path& device,
                                               std::uint32_t baud) {
    auto result = m_inner.Open(device, baud);
    const std::string opening = "open " + device.string() + " " + std::to_string(baud);
    if (!result.port) {
        m_trace.Note(opening + " failed: " + result.error.reason);
        return result;
    }
    m_trace.Note(opening);
    result.port =
        std::make_shared<TracingSerialPort>(std::move(result.port), m_trace, device.string());
    return result;
}

}  // namespace tarvik
