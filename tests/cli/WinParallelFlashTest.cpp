// Several ports at once on Windows, under Wine here: the real tarvik-flash.exe as each port's
// child, with the simulated loaders of --simulate behind COM3, COM4 and usb.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/InterruptWatch.h"
#include "cli/ParallelFlash.h"
#include "cli/PortChildren.h"
#include "cli/Utf8Path.h"
#include "cli/WinPortChild.h"
#include "hid/WinHandle.h"
#include "hid/WinText.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using namespace cli;
using Json = nlohmann::json;
using Strings = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

std::vector<DWORD> ThreadsOf(DWORD pid) {
    std::vector<DWORD> threads;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{sizeof entry, 0, 0, 0, 0, 0, 0};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid) {
            threads.push_back(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
    return threads;
}
// How many handles of each type this process holds (the system's own count is 0 under Wine).
std::map<std::wstring, int> HandleTypes() {
    std::map<std::wstring, int> types;
    alignas(PUBLIC_OBJECT_TYPE_INFORMATION) char info[1024];
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        const auto handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (GetHandleInformation(handle, &flags) &&
            NtQueryObject(handle, ObjectTypeInformation, info, sizeof info, nullptr) >= 0) {
            const auto& name = reinterpret_cast<PUBLIC_OBJECT_TYPE_INFORMATION*>(info)->TypeName;
            types[std::wstring(name.Buffer, name.Length / sizeof(wchar_t))] += 1;
        }
    }
    return types;
}

std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> events;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        events.push_back(Json::parse(line));
    }
    return events;
}

// The summary's row for each port as "port result exit signal message".
Strings Rows(const std::vector<Json>& events) {
    Strings rows;
    for (const Json& row : events.empty() ? Json::array() : events.back().at("ports")) {
        rows.push_back(row.value("port", "") + " " + row.value("result", "") + " " +
                       row.at("exit").dump() + " " + row.value("signal", "-") + " " +
                       row.value("message", "-"));
    }
    return rows;
}

class WinParallelFlashTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const {
        return Utf8(m_dir.Path() / PathFromUtf8(name));
    }

    // Beside this test in the build tree.
    const std::filesystem::path m_flash = OwnProgram().parent_path() / TARVIK_FLASH_FROM_TEST;
    test::TempDir m_dir;
};

TEST(WinCommandLineTest, EveryArgumentComesBackAsItWent) {
    const Strings argv = {"C:\\Program Files\\t.exe", "plain", "",
                          "say \"hi\" twice",         "end\\", "a\\\\\"b\\",
                          "Prüfung\tψ 固件"};
    int count = 0;
    wchar_t** back = CommandLineToArgvW(QuotedCommandLine(argv).c_str(), &count);
    Strings read;
    for (int i = 0; i < count; ++i) {
        read.push_back(win::Utf8(back[i]));
    }
    EXPECT_EQ(read, argv);
    LocalFree(back);
}

// Three devices and a port that does not exist, in a folder named in several scripts: every
// child's lines reach the parent, the result is the children's, and nothing is left behind.
TEST_F(WinParallelFlashTest, EveryChildsLinesArriveAndNoHandleOrThreadOutlivesTheRun) {
    std::filesystem::create_directory(m_dir.Path() / L"Prüfung ψ");
    std::filesystem::rename(m_dir.Write("fw.bin", test::PatternBytes(5000)),
                            m_dir.Path() / L"Prüfung ψ" / L"fw.bin");
    std::string error;
    const auto options = ParseFlashOptions(
        {"--json", "--simulate", "--trace", Path("wire.log"), "--port", "COM3", "--port",
         "no/such/port", "--port", "COM4", "--port", "usb", Path("Prüfung ψ/fw.bin")},
        error);
    ASSERT_TRUE(options) << error;
    BlockInterrupt();  // its handles are made once, for the life of the process
    std::FILE* out = _wfopen((m_dir.Path() / L"out.txt").c_str(), L"w+b");
    const std::size_t threads = ThreadsOf(GetCurrentProcessId()).size();
    const auto handles = HandleTypes();
    const int exit =
        FlashInParallel(*options, m_flash, "tarvik-flash", BoardMode::Json, out, out, 80);
    EXPECT_EQ(ThreadsOf(GetCurrentProcessId()).size(), threads);
    auto handlesAfter = HandleTypes();
    // The thread library's own event, made once in a process's life on a contended lock.
    handlesAfter[L"Event"] -= handlesAfter[L"Event"] == handles.at(L"Event") + 1;
    EXPECT_EQ(handlesAfter, handles);
    std::fclose(out);

    EXPECT_EQ(exit, 1);
    std::ifstream in(m_dir.Path() / L"out.txt");
    const auto events = JsonLines({std::istreambuf_iterator<char>(in), {}});
    std::map<std::string, int> lines;  // each port's progress, message and result lines
    for (const Json& event : events) {
        lines[event.value("port", "") + " " + event.value("event", "")] += 1;
    }
    for (const char* port : {"COM3", "COM4", "usb"}) {
        EXPECT_EQ(lines[port + std::string(" progress")], 5) << port;  // 0, three blocks, 100
        EXPECT_EQ(lines[port + std::string(" result")], 1) << port;
        EXPECT_TRUE(std::ifstream(Path("wire.log." + std::string(port))).good()) << port;
    }
    EXPECT_EQ(Rows(events),
              (Strings{"COM3 succeeded 0 - -",
                       "no/such/port failed 1 - tarvik-flash: Serial Port is unavaible!\n"
                       "no/such/port does not exist.",
                       "COM4 succeeded 0 - -", "usb succeeded 0 - -"}));
}

// Ctrl+C at the parent reaches each child, which ends its download; a child that cannot take
// it is killed once the grace is over, and the run ends 130.
TEST_F(WinParallelFlashTest, CtrlCReachesEveryChildAndOneThatCannotTakeItIsKilled) {
    m_dir.Write("fw.bin", test::PatternBytes(4 * 1024 * 1024));
    PortChildren parent(1);
    std::string error;
    ASSERT_TRUE(parent.Start(0, m_flash,
                             {"tarvik-flash", "--json", "--simulate", "--port", "COM3", "--port",
                              "COM4", Path("fw.bin")},
                             error))
        << error;
    std::string text;  // the parent's standard output so far
    const auto read = [&](const auto& enough) {
        for (const auto until = Clock::now() + std::chrono::seconds(90);
             !enough() && Clock::now() < until && !parent.OutputEnded(0);) {
            parent.TakeOutput(
                std::chrono::milliseconds(100),
                [&](std::size_t, PortChildren::Stream stream, std::string_view bytes) {
                    text.append(stream == PortChildren::Stream::Out ? bytes : "");
                });
        }
        return enough();
    };
    for (const char* port : {"COM3", "COM4"}) {  // both well into their downloads
        const std::string progress = "\"port\":\"" + std::string(port) + "\",\"percent\":5";
        ASSERT_TRUE(read([&] { return text.find(progress) != std::string::npos; })) << text;
    }
    DWORD pids[2] = {};
    for (const Json& event : JsonLines(text.substr(0, text.rfind('\n') + 1))) {
        if (event.value("event", "") == "start") {
            pids[event.at("port") == "COM4"] = event.at("pid").get<DWORD>();
        }
    }
    for (const DWORD id : ThreadsOf(pids[1])) {  // COM4's child can no longer take a Ctrl+C
        const win::WinHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, id));
        EXPECT_NE(SuspendThread(thread.Get()), static_cast<DWORD>(-1));
    }
    const auto interrupted = Clock::now();
    parent.Interrupt(0);
    std::optional<ChildEnd> end;
    read([&] { return (end = end ? end : parent.Reap(0)) && parent.OutputEnded(0); });
    ASSERT_TRUE(end) << text;
    EXPECT_GE(Clock::now() - interrupted, std::chrono::seconds(5));  // the grace was given
    EXPECT_EQ(end->exitCode, 130) << text;
    EXPECT_EQ(Rows(JsonLines(text)),
              (Strings{"COM3 interrupted 130 - -", "COM4 failed 137 SIGKILL killed by SIGKILL"}));
    for (const DWORD pid : pids) {  // neither child outlives the run
        const win::WinHandle child(OpenProcess(SYNCHRONIZE, FALSE, pid));
        EXPECT_TRUE(!child || WaitForSingleObject(child.Get(), 0) == WAIT_OBJECT_0) << pid;
    }
}

}  // namespace
}  // namespace tarvik
