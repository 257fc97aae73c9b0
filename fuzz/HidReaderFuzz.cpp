// Any sequence of input reports as the USB loader's answers: the reader raises the
// acknowledgement flag for an acknowledgement report and for nothing else, tells the operator
// about short reports, and stops at the first failed read.
#include <algorithm>

#include "FuzzSupport.h"
#include "app/UpdaterDlg.h"
#include "hid/HidReports.h"

using namespace tarvik;

namespace {

// Each read takes a kind byte (0-4 a report, 5 nothing in time, 6 unplugged, 7 failed), then
// for a report a count byte (0 to 65) and the count - 1 bytes after the report ID; for a
// failure the error byte. When the input is used up the reader is told to stop.
class ScriptedHidDevice : public HidDevice {
public:
    ScriptedHidDevice(fuzz::InputReader& input, std::atomic<int>& reading)
        : m_input(input), m_reading(reading) {}

    std::optional<HidAttributes> GetAttributes() override { return hid::kBootLoader; }
    int Write(const HidReport&) override { return 0; }

    HidReadResult Read(HidReport& report, std::chrono::milliseconds) override {
        fuzz::Check(!failed, "a read after a failed read");
        if (m_input.Empty()) {
            m_reading = 0;
            return {HidReadResult::Status::TimedOut, 0, 0};
        }
        switch (m_input.Byte() % 8) {
            case 5:
                return {HidReadResult::Status::TimedOut, 0, 0};
            case 6:
                return {HidReadResult::Status::DeviceGone, 0, 0};
            case 7:
                failed = true;
                ++boxesDue;
                return {HidReadResult::Status::Failed, 0, m_input.Byte()};
            default:
                break;
        }
        const std::size_t count = m_input.Byte() % (kHidReportSize + 1);
        // Bytes past `count` keep what the last report left there, as a real read leaves them.
        report[0] = 0x00;
        const auto contents = m_input.Take(count == 0 ? 0 : count - 1);
        std::copy(contents.begin(), contents.end(), report.begin() + 1);
        if (count < 3) {
            ++boxesDue;
        } else if (hid::IsAckReport(report, count)) {
            ackDue = true;
        }
        return {HidReadResult::Status::Report, count, 0};
    }

    bool failed = false;
    bool ackDue = false;
    std::size_t boxesDue = 0;

private:
    fuzz::InputReader& m_input;
    std::atomic<int>& m_reading;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    fuzz::BoxKeepingView view;
    fuzz::SteppingClock clock(Clock::Duration{1});
    CUpdaterDlg dlg(view, clock, "fuzz");
    auto device = std::make_shared<ScriptedHidDevice>(input, dlg.m_bHidReading);
    dlg.m_hHidRead = device;
    dlg.m_bHidAck = 0;
    dlg.m_bHidReading = 1;

    dlg.HidReadThreadProc();

    fuzz::Check((dlg.m_bHidAck != 0) == device->ackDue,
                "the acknowledgement flag disagrees with the reports");
    fuzz::Check(view.boxes.size() == device->boxesDue,
                "not one box per short report and failed read");
    for (const MessageBoxRequest& box : view.boxes) {
        fuzz::Check(box.kind == MessageKind::Application, "a reader's box in the window's kind");
    }
    dlg.m_hHidRead.reset();
    return 0;
}
