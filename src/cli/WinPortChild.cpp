#include "cli/WinPortChild.h"

#include <atomic>
#include <climits>
#include <memory>
#include <system_error>
#include <utility>

#include "cli/WinInterruptChannel.h"
#include "hid/WinHandle.h"
#include "hid/WinText.h"

namespace tarvik::cli {
namespace {

using win::WinHandle;

// What POSIX calls SIGKILL, and the exit code of a process ended by it: a child terminated
// here is reported as on Linux.
constexpr int kKilledSignal = 9;
constexpr UINT kKilledExitCode = 128 + kKilledSignal;
// What the pipes hold before the child's writes wait for the reader.
constexpr DWORD kPipeBuffer = 64 * 1024;
// The reader looks at its stop event at least this often.
constexpr DWORD kReaderSliceMs = 250;
// A cancelled pipe read completes at once; a terminated process is gone within moments.
constexpr DWORD kCancelWaitMs = 5000;
constexpr DWORD kEndWaitMs = 5000;

std::string ErrorText(const std::string& what, DWORD code) {
    return what + ": " + std::system_category().message(static_cast<int>(code));
}

// A pipe whose reading end (ours, overlapped) is a named pipe and whose writing end (the
// child's) is inheritable. The name is made unique by our process id and a count.
bool MakeOutputPipe(WinHandle& ours, WinHandle& childs) {
    static std::atomic<unsigned> count{0};
    const std::wstring name = L"\\\\.\\pipe\\tarvik-flash-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(count++);
    ours = WinHandle(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, kPipeBuffer, 0, nullptr));
    if (!ours) {
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    childs =
        WinHandle(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
    return childs.Valid();
}

// One of the child's streams as the reader reads it: one overlapped read under way at a time.
struct StreamRead {
    WinHandle pipe;
    WinHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped{};
    char buffer[4096];
    bool open = true;
    bool pending = false;

    void Issue() {
        overlapped = {};
        overlapped.hEvent = done.Get();
        // Also when the read completes at once, the event is set and the wait below takes it.
        pending = ReadFile(pipe.Get(), buffer, sizeof buffer, nullptr, &overlapped) ||
                  GetLastError() == ERROR_IO_PENDING;
        open = pending;
    }
};

// The reader thread: hands every piece of both streams to `queue` until both have ended or
// `stop` is set, then its End.
void ReadStreams(WinHandle out, WinHandle err, HANDLE stop, ChildOutputQueue& queue,
                 std::size_t port) {
    std::unique_ptr<StreamRead> streams[2] = {std::make_unique<StreamRead>(),
                                              std::make_unique<StreamRead>()};
    streams[0]->pipe = std::move(out);
    streams[1]->pipe = std::move(err);
    for (const auto& stream : streams) {
        if (stream->done) {
            stream->Issue();
        } else {
            stream->open = false;
        }
    }
    for (;;) {
        HANDLE waits[3] = {stop};
        StreamRead* owners[3] = {nullptr};
        DWORD count = 1;
        for (const auto& stream : streams) {
            if (stream->open) {
                owners[count] = stream.get();
                waits[count++] = stream->done.Get();
            }
        }
        if (count == 1) {
            break;
        }
        const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, kReaderSliceMs);
        if (woke == WAIT_TIMEOUT) {
            continue;
        }
        if (woke == WAIT_OBJECT_0 || woke >= WAIT_OBJECT_0 + count) {
            break;  // told to stop, or the wait itself failed
        }
        StreamRead& stream = *owners[woke - WAIT_OBJECT_0];
        DWORD got = 0;
        stream.pending = false;
        if (GetOverlappedResult(stream.pipe.Get(), &stream.overlapped, &got, FALSE)) {
            if (got > 0) {
                queue.Push({port,
                            &stream == streams[0].get() ? ChildOutputQueue::Piece::Kind::Out
                                                        : ChildOutputQueue::Piece::Kind::Err,
                            std::string(stream.buffer, got)});
            }
            stream.Issue();
        } else {
            stream.open = false;  // ERROR_BROKEN_PIPE: every writer has gone
        }
    }
    for (auto& stream : streams) {
        if (stream->pending) {
            CancelIoEx(stream->pipe.Get(), &stream->overlapped);
            if (WaitForSingleObject(stream->done.Get(), kCancelWaitMs) != WAIT_OBJECT_0) {
                // The system may still write into the buffer: it is left to it, never freed.
                static_cast<void>(stream.release());
            }
        }
    }
    queue.Push({port, ChildOutputQueue::Piece::Kind::End, {}});
}

}  // namespace

std::wstring QuotedCommandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::wstring arg = win::Wide(argv[i]).value_or(L"\uFFFD");
        if (i == 0) {
            line += L"\"" + arg + L"\"";  // a path, which cannot hold a quote
            continue;
        }
        line += L' ';
        if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
            line += arg;
            continue;
        }
        // Backslashes are literal except before a quote, where 2n of them make n and 2n + 1
        // make n and the quote itself.
        line += L'"';
        std::size_t backslashes = 0;
        for (const wchar_t c : arg) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
            line += c;
            backslashes = 0;
        }
        line.append(2 * backslashes, L'\\');  // before the closing quote
        line += L'"';
    }
    return line;
}

void ChildOutputQueue::Push(Piece piece) {
    AcquireSRWLockExclusive(&m_lock);
    m_pieces.push_back(std::move(piece));
    ReleaseSRWLockExclusive(&m_lock);
    WakeConditionVariable(&m_arrived);
}

std::deque<ChildOutputQueue::Piece> ChildOutputQueue::Take(std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    AcquireSRWLockExclusive(&m_lock);
    for (auto now = std::chrono::steady_clock::now(); m_pieces.empty() && now < until;
         now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        SleepConditionVariableSRW(&m_arrived, &m_lock, static_cast<DWORD>(left.count()), 0);
    }
    std::deque<Piece> pieces = std::exchange(m_pieces, {});
    ReleaseSRWLockExclusive(&m_lock);
    return pieces;
}

WinPortChild::~WinPortChild() {
    if (m_process && !m_reaped) {
        TerminateProcess(m_process, kKilledExitCode);
        WaitForSingleObject(m_process, kEndWaitMs);
    }
    if (m_reader.joinable()) {
        SetEvent(m_stop);
        m_reader.join();
    }
    for (const HANDLE handle : {m_process, m_interrupt, m_stop}) {
        if (handle) {
            CloseHandle(handle);
        }
    }
}

bool WinPortChild::Start(const std::filesystem::path& program, const std::vector<std::string>& argv,
                         HANDLE job, ChildOutputQueue& queue, std::size_t port,
                         std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    WinHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr));
    WinHandle outOurs, outChilds, errOurs, errChilds;
    WinHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!input || !stop || !MakeOutputPipe(outOurs, outChilds) ||
        !MakeOutputPipe(errOurs, errChilds)) {
        error = ErrorText("cannot make a pipe", GetLastError());
        return false;
    }

    // The child inherits its three handles and nothing else this process may hold
    // inheritable, such as the pipes of whoever started us: those would stay open while the
    // child runs and keep that reader waiting for their end.
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    HANDLE inherited[3] = {input.Get(), outChilds.Get(), errChilds.Get()};
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
        error = ErrorText("cannot start " + win::Utf8(program.wstring()), GetLastError());
        return false;
    }
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                              sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = input.Get();
    info.StartupInfo.hStdOutput = outChilds.Get();
    info.StartupInfo.hStdError = errChilds.Get();
    info.lpAttributeList = attributes;
    std::wstring commandLine = QuotedCommandLine(argv);
    PROCESS_INFORMATION process{};
    // Suspended until its interrupt channel exists and its job holds it; with no console of
    // its own (see WinInterruptChannel.h).
    const BOOL created =
        CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                       nullptr, &info.StartupInfo, &process);
    const DWORD createError = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!created) {
        error = ErrorText("cannot start " + win::Utf8(program.wstring()), createError);
        return false;
    }
    m_process = process.hProcess;
    m_pid = process.dwProcessId;
    WinHandle thread(process.hThread);
    m_interrupt = CreateSemaphoreW(nullptr, 0, LONG_MAX, InterruptChannelName(m_pid).c_str());
    if (!m_interrupt) {
        error = ErrorText("cannot start " + win::Utf8(program.wstring()), GetLastError());
        Kill();
        return false;
    }
    // One left behind by an earlier process of the same id holds nothing for this one.
    while (WaitForSingleObject(m_interrupt, 0) == WAIT_OBJECT_0) {
    }
    if (job) {
        // Where the system will not nest our job in one we run in, the child is still ended
        // on every way out of ours; only a crash of this process would leave it running.
        AssignProcessToJobObject(job, m_process);
    }
    m_stop = stop.Release();
    m_reader = std::thread(ReadStreams, std::move(outOurs), std::move(errOurs), m_stop,
                           std::ref(queue), port);
    ResumeThread(thread.Get());
    return true;
}

void WinPortChild::StopReading() {
    if (m_stop) {
        SetEvent(m_stop);
    }
}

void WinPortChild::JoinReader() {
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

void WinPortChild::Interrupt() {
    if (m_interrupt && !m_reaped) {
        ReleaseSemaphore(m_interrupt, 1, nullptr);
    }
}

void WinPortChild::Kill() {
    if (m_process && !m_reaped && TerminateProcess(m_process, kKilledExitCode)) {
        m_killed = true;
    }
}

std::optional<ChildEnd> WinPortChild::Reap() {
    if (!m_process || m_reaped || WaitForSingleObject(m_process, 0) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    m_reaped = true;
    DWORD code = 1;
    GetExitCodeProcess(m_process, &code);
    ChildEnd end = ChildEndFromWaitStatus(static_cast<int>(code));
    if (m_killed && code == kKilledExitCode) {
        end.signal = kKilledSignal;
    }
    return end;
}

}  // namespace tarvik::cli
