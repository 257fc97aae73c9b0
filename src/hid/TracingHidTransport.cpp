#include "hid/TracingHidTransport.h"

#include <algorithm>

namespace tarvik {
namespace {

class TracingHidDevice final : public HidDevice {
public:
    TracingHidDevice(std::unique_ptr<HidDevice> inner, WireTrace& trace, std::string path)
        : m_inner(std::move(inner)), m_trace(trace), m_path(std::move(path)) {}

    ~TracingHidDevice() override {
        // Noted once the handle is really closed.
        m_inner.reset();
        m_trace.Note("close " + m_path);
    }

    TracingHidDevice(const TracingHidDevice&) = delete;
    TracingHidDevice& operator=(const TracingHidDevice&) = delete;

    std::optional<HidAttributes> GetAttributes() override { return m_inner->GetAttributes(); }

    int Write(const HidReport& report) override {
        // Traced before it goes out: the device may answer before Write returns, and the
        // answer must not appear above the report it answers.
        m_trace.TransmitReport(report);
        return m_inner->Write(report);
    }

    HidReadResult Read(HidReport& report, std::chrono::milliseconds timeout) override {
        const HidReadResult result = m_inner->Read(report, timeout);
        if (result.status == HidReadResult::Status::Report && result.count > 0) {
            m_trace.ReceiveReport(std::span(report).first(std::min(result.count, report.size())));
        }
        return result;
    }

private:
    std::unique_ptr<HidDevice> m_inner;
    WireTrace& m_trace;
    const std::string m_path;
};

}  // namespace

TracingHidTransport::TracingHidTransport(HidTransport& inner, WireTrace& trace)
    : m_inner(inner), m_trace(trace) {}

std::optional<std::vector<HidDeviceInfo>> TracingHidTransport::Enumerate() {
    return m_inner.Enumerate();
}

std::unique_ptr<HidDevice> TracingHidTransport::Open(const std::string& path) {
    auto device = m_inner.Open(path);
    if (!device) {
        m_trace.Note("open " + path + " failed");
        return nullptr;
    }
    m_trace.Note("open " + path);
    return std::make_unique<TracingHidDevice>(std::move(device), m_trace, path);
}

}  // namespace tarvik
