// A maintenance command on a line the loader holds with flow control (tcflow on the
// pseudo-terminal): it fails after the write's stall limit instead of waiting for ever.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <future>

#include "serial/RoadTest.h"

namespace tarvik::test {
namespace {

using MaintenanceRoadTest = RoadTest;

TEST_F(MaintenanceRoadTest, ACommandOnAHeldLineFailsAfterItsStallLimitAndKeepsNoPort) {
    Start({}, 20);
    // Output held as flow control would hold it: no byte of the command gets through.
    const int held = ::open(m_sim->DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::tcflow(held, TCOOFF), 0);
    // On a thread of its own, so that a write with no limit fails the test, not hangs it.
    auto commands = std::async(std::launch::async, [this] {
        m_dlg->OnVersion();
        m_dlg->m_strCradleId = "abcdefghijkl";
        m_dlg->OnSetCradleId();
    });
    const bool ended = commands.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    ::tcflow(held, TCOON);  // a write that never gave up goes through now, and the thread ends
    ::close(held);
    commands.get();
    ASSERT_TRUE(ended) << "a write on the held line never gave up";
    // One failure for the version query, one for each of the cradle's two openings.
    EXPECT_EQ(m_view->Boxes(), Events(3, "box Fail: The serial port was closed or failed."));
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
    EXPECT_FALSE(m_dlg->Port());
    EXPECT_EQ(m_sim->MaintenanceFrames(), Events{});
}

}  // namespace
}  // namespace tarvik::test
