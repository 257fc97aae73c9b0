#include "support/Timeline.h"

#include <algorithm>

#include "sim/HexText.h"

namespace tarvik::test {

void TimelineClock::SleepFor(Duration d) const {
    Note("sleep " + std::to_string(d.count()));
    m_inner.SleepFor(d);
}

void TimelineClock::Note(std::string entry) const {
    std::lock_guard lock(m_lock);
    const auto id = std::this_thread::get_id();
    if (!m_lanes.contains(id)) {
        m_order.push_back(id);
    }
    m_lanes[id].push_back(std::move(entry));
}

std::vector<std::vector<std::string>> TimelineClock::Lanes() const {
    std::lock_guard lock(m_lock);
    std::vector<std::vector<std::string>> lanes;
    for (const auto& id : m_order) {
        std::vector<std::string> lane;
        for (const auto& entry : m_lanes.at(id)) {
            const bool bytes = entry.starts_with("tx ") || entry.starts_with("rx ");
            if (bytes && !lane.empty() && lane.back().starts_with(entry.substr(0, 3))) {
                lane.back() += entry.substr(2);
            } else {
                lane.push_back(entry);
            }
        }
        lanes.push_back(std::move(lane));
    }
    return lanes;
}

std::vector<std::string> TimelineClock::LaneWith(const std::string& entry) const {
    for (auto& lane : Lanes()) {
        if (std::find(lane.begin(), lane.end(), entry) != lane.end()) {
            return lane;
        }
    }
    return {};
}

namespace {

class TimelinePort final : public SerialPort {
public:
    TimelinePort(std::shared_ptr<SerialPort> inner, const TimelineClock& timeline)
        : m_inner(std::move(inner)), m_timeline(timeline) {}
    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
        const auto got = m_inner->Read(buf);
        if (got && *got > 0) {
            m_timeline.Note("rx " + sim::HexBytes(buf.first(*got)));
        }
        return got;
    }
    bool Write(std::span<const std::uint8_t> data) override {
        return Noted("tx " + sim::HexBytes(data)).Write(data);
    }
    void Purge() override { Noted("purge").Purge(); }
    void Close() override { Noted("close").Close(); }
    void Abort() override { Noted("abort").Abort(); }
    bool IsOpen() const override { return m_inner->IsOpen(); }

private:
    // Notes `entry` on the calling thread's line; the call then goes on to the port.
    SerialPort& Noted(std::string entry) {
        m_timeline.Note(std::move(entry));
        return *m_inner;
    }

    const std::shared_ptr<SerialPort> m_inner;
    const TimelineClock& m_timeline;
};

}  // namespace

SerialOpenResult TimelinePortOpener::Open(const std::filesystem::path& device, std::uint32_t baud) {
    auto result = m_inner.Open(device, baud);
    m_timeline.Note("open " + std::to_string(baud));
    if (result.port) {
        result.port = std::make_shared<TimelinePort>(std::move(result.port), m_timeline);
    }
    return result;
}

}  // namespace tarvik::test
