#include "sim/HidLoaderSim.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "hid/HidReports.h"
#include "sim/HidLoaderProtocol.h"
#include "sim/LoaderRecord.h"

namespace tarvik::sim {

namespace {

std::vector<SimHidDevice> DevicesOrDefault(std::vector<SimHidDevice> devices) {
    if (devices.empty()) {
        devices.push_back(
            {.path = "sim:hid-loader", .attributes = hid::kBootLoader, .loader = true});
    }
    return devices;
}

}  // namespace

// Everything the bus and its handles share, under one lock (the record keeps its own): the
// handles hold it too, so a handle that outlives the bus still finds it.
struct HidLoaderSim::Impl {
    // One device on the bus; a loader's protocol reaches the record through it.
    struct Device final : HidLoaderProtocol::Host {
        Device(SimHidDevice script, std::vector<HidFault>& faults)
            : m_script(std::move(script)), m_protocol(*this, faults) {}

        void Log(std::string entry) override { m_step.log.push_back(std::move(entry)); }
        void Error(std::string text) override { m_step.errors.push_back(std::move(text)); }
        void Record(std::uint16_t page, BlockData data) override {
            m_step.blocks.emplace_back(page, std::vector<std::uint8_t>(data.begin(), data.end()));
        }
        void Send(std::vector<std::uint8_t> wire) override { m_input.push_back(std::move(wire)); }
        void Unplug() override {
            m_gone = true;
            m_input.clear();
        }

        const SimHidDevice m_script;
        HidLoaderProtocol m_protocol;
        // What the report being taken adds to the record, published once it is taken.
        LoaderRecord::Batch m_step;
        std::deque<std::vector<std::uint8_t>> m_input;  // wire reports not read yet
        bool m_gone = false;
        int m_handles = 0;
    };

    class Handle;

    explicit Impl(HidLoaderOptions options);

    int Write(Device& device, const HidReport& report);
    HidReadResult Read(Device& device, HidReport& report, std::chrono::milliseconds timeout);

    const Clock& m_clock;
    const Clock::Duration m_reportTime;
    const Clock::TimePoint m_frameOrigin;  // the endpoint's frames count from here
    Clock::TimePoint m_wireFree{};         // the end of the last frame taken

    mutable std::mutex m_lock;
    // Notified on every change a reader waits for: a new input report, an unplug.
    mutable std::condition_variable m_changed;
    std::vector<HidFault> m_faults;
    std::vector<std::unique_ptr<Device>> m_devices;  // fixed addresses: handles point at them
    std::vector<std::string> m_openCalls;
    int m_openHandles = 0;

    LoaderRecord m_record;
};

class HidLoaderSim::Impl::Handle final : public HidDevice {
public:
    Handle(std::shared_ptr<Impl> bus, Device& device) : m_bus(std::move(bus)), m_device(device) {}
    ~Handle() override {
        std::lock_guard lock(m_bus->m_lock);
        --m_device.m_handles;
        --m_bus->m_openHandles;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    std::optional<HidAttributes> GetAttributes() override {
        std::lock_guard lock(m_bus->m_lock);
        if (m_device.m_gone || m_device.m_script.attributesUnreadable) {
            return std::nullopt;
        }
        return m_device.m_script.attributes;
    }
    int Write(const HidReport& report) override { return m_bus->Write(m_device, report); }
    HidReadResult Read(HidReport& report, std::chrono::milliseconds timeout) override {
        return m_bus->Read(m_device, report, timeout);
    }

private:
    const std::shared_ptr<Impl> m_bus;
    Device& m_device;
};

HidLoaderSim::Impl::Impl(HidLoaderOptions options)
    : m_clock(*options.clock),
      m_reportTime(options.reportTime),
      m_frameOrigin(m_clock.Now()),
      m_faults(std::move(options.faults)) {
    for (const HidFault& fault : m_faults) {
        // "U5U" must fit between the report ID and the report's end.
        if (fault.kind == HidFaultKind::AckAtWrongOffset &&
            (fault.offset < 1 || fault.offset + hid::kAck.size() > kHidReportSize)) {
            throw std::invalid_argument("acknowledgement offset out of the report");
        }
    }
    for (SimHidDevice& script : DevicesOrDefault(std::move(options.devices))) {
        m_devices.push_back(std::make_unique<Device>(std::move(script), m_faults));
    }
}

int HidLoaderSim::Impl::Write(Device& device, const HidReport& report) {
    // The report takes its time on the wire before anything sees it. The endpoint sends one
    // report a frame, and frames tick on their own: a report goes out at the end of the first
    // free frame after it was written, so a late wake-up here does not add up.
    if (m_reportTime.count() > 0) {
        Clock::TimePoint due;
        {
            std::lock_guard lock(m_lock);
            const auto frames = (m_clock.Now() - m_frameOrigin) / m_reportTime + 1;
            due = std::max(m_frameOrigin + frames * m_reportTime, m_wireFree + m_reportTime);
            m_wireFree = due;
        }
        m_clock.SleepUntil(due);
    }
    std::lock_guard lock(m_lock);
    if (device.m_gone) {
        return ENODEV;
    }
    if (!device.m_script.loader) {
        m_record.AddError("report to " + device.m_script.path + ", which is no loader");
        return 0;
    }
    const int error = device.m_protocol.Take(report);
    // Everything the report did shows at once, and before the lock lets the tool read an
    // answer to it: a block is on record before its acknowledgement can be read.
    m_record.Add(std::exchange(device.m_step, {}));
    m_changed.notify_all();
    return error;
}

// Writes only the bytes that came, as the real transport does: the rest of `report` keeps
// whatever it held.
HidReadResult HidLoaderSim::Impl::Read(Device& device, HidReport& report,
                                       std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, timeout, [&] { return device.m_gone || !device.m_input.empty(); });
    if (device.m_gone) {
        return {HidReadResult::Status::DeviceGone};
    }
    if (device.m_input.empty()) {
        return {HidReadResult::Status::TimedOut};
    }
    const std::vector<std::uint8_t> wire = std::move(device.m_input.front());
    device.m_input.pop_front();
    report[0] = 0x00;
    std::ranges::copy(wire, report.begin() + 1);
    return {HidReadResult::Status::Report, 1 + wire.size()};
}

HidLoaderSim::HidLoaderSim(HidLoaderOptions options)
    : m_impl(std::make_shared<Impl>(std::move(options))) {}

HidLoaderSim::~HidLoaderSim() = default;

std::optional<std::vector<HidDeviceInfo>> HidLoaderSim::Enumerate() {
    std::lock_guard lock(m_impl->m_lock);
    std::vector<HidDeviceInfo> present;
    for (const auto& device : m_impl->m_devices) {
        if (!device->m_gone) {
            present.push_back({device->m_script.path, device->m_script.attributes});
        }
    }
    return present;
}

std::unique_ptr<HidDevice> HidLoaderSim::Open(const std::string& path) {
    std::lock_guard lock(m_impl->m_lock);
    m_impl->m_openCalls.push_back(path);
    const auto found = std::ranges::find_if(m_impl->m_devices, [&](const auto& device) {
        return device->m_script.path == path && !device->m_gone;
    });
    if (found == m_impl->m_devices.end() ||
        ((*found)->m_script.refusesSecondOpen && (*found)->m_handles > 0)) {
        return nullptr;
    }
    ++(*found)->m_handles;
    ++m_impl->m_openHandles;
    return std::make_unique<Impl::Handle>(m_impl, **found);
}

std::vector<std::string> HidLoaderSim::Log() const {
    return m_impl->m_record.Log();
}

std::vector<std::string> HidLoaderSim::Errors() const {
    return m_impl->m_record.Errors();
}

std::vector<std::uint16_t> HidLoaderSim::Pages() const {
    return m_impl->m_record.Pages();
}

std::vector<std::uint8_t> HidLoaderSim::Flashed() const {
    return m_impl->m_record.Flashed();
}

std::vector<std::string> HidLoaderSim::OpenCalls() const {
    std::lock_guard lock(m_impl->m_lock);
    return m_impl->m_openCalls;
}

int HidLoaderSim::OpenHandles() const {
    std::lock_guard lock(m_impl->m_lock);
    return m_impl->m_openHandles;
}

bool HidLoaderSim::WaitForLog(const std::string& entry, std::chrono::milliseconds timeout) const {
    return m_impl->m_record.WaitForLog(entry, timeout);
}

}  // namespace tarvik::sim
