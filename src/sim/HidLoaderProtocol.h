#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hid/HidTransport.h"
#include "image/FirmwareBlock.h"
#include "sim/HidLoaderSim.h"

namespace tarvik::sim {

// The USB loader's side of the reports: what it accepts in each state, what it logs and
// reports, what it keeps and what it answers. The bus holds its lock around every call and
// gives it a device to act on; nothing here needs a thread.
class HidLoaderProtocol {
public:
    class Host {
    public:
        virtual ~Host() = default;

        virtual void Log(std::string entry) = 0;
        virtual void Error(std::string text) = 0;
        // A block about to be acknowledged: it is kept before the answer goes out.
        virtual void Record(std::uint16_t page, BlockData data) = 0;
        // Queues one input report as the device sends it: no report ID in front.
        virtual void Send(std::vector<std::uint8_t> wire) = 0;
        // The device has just been unplugged.
        virtual void Unplug() = 0;
    };

    // `faults` is the bus's: a fault fires once, also across a second download.
    HidLoaderProtocol(Host& host, std::vector<HidFault>& faults);

    // Takes one report the tool writes, report ID first. Returns 0, or the error number the
    // write fails with.
    int Take(const HidReport& report);

private:
    enum class State {
        Idle,          // no start report yet
        ExpectHeader,  // a download is open: a block header, or a start afresh
        ExpectData,    // the block's data reports
    };

    void Start(const HidReport& report);
    void Header(const HidReport& report);
    void Data(const HidReport& report);
    void EndBlock();
    void Answer();
    void Unexpected(const HidReport& report, const std::string& text);
    // Compares a whole report with what it must be; one error for the first byte off.
    void Check(const std::string& what, const HidReport& got, const HidReport& expected);
    void Fail(std::string text);
    std::string Expected() const;
    std::string BlockText() const;
    template <typename Matches>
    std::optional<HidFault> TakeFault(Matches matches, int at);

    Host& m_host;
    std::vector<HidFault>& m_faults;
    State m_state = State::Idle;
    int m_reports = 0;  // reports written since the start report, which is 0
    int m_blocks = 0;   // block headers taken since the start report
    // The page the next block may have besides 0; nothing once page 0 was taken.
    std::optional<std::uint32_t> m_nextPage;

    // The block being received.
    int m_block = 0;
    std::uint16_t m_page = 0;
    std::uint8_t m_checksum = 0;
    std::size_t m_dataReports = 0;
    bool m_faulty = false;
    // The tool builds a block's reports in one buffer cleared once, before the header, so
    // each report must carry what the one before it left behind: this is that buffer.
    HidReport m_buffer{};
    std::array<std::uint8_t, kBlockSize> m_data{};
};

}  // namespace tarvik::sim
