#pragma once

#include "hid/HidTransport.h"
#include "trace/WireTrace.h"

namespace tarvik {

// Opens devices through `inner` and writes every open, report and close to `trace`, one
// report per line. Both must outlive the devices it returns.
class TracingHidTransport final : public HidTransport {
public:
    TracingHidTransport(HidTransport& inner, WireTrace& trace);

    std::optional<std::vector<HidDeviceInfo>> Enumerate() override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

private:
    HidTransport& m_inner;
    WireTrace& m_trace;
};

}  // namespace tarvik
