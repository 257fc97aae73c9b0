// The children of a parallel run on Windows: CreateProcessW, a reader thread a child, and
// the pieces they read handed to the thread that shows the run through one queue.
#include <windows.h>

#include "cli/ParallelFlash.h"
#include "cli/PortChildren.h"
#include "cli/WinPortChild.h"
#include "hid/WinHandle.h"

namespace tarvik::cli {
namespace {

// A job that ends every child when its last handle closes: when this process ends any way at
// all (the console window closed, say), its children do not go on flashing unseen.
HANDLE MakeJob() {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job &&
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

}  // namespace

struct PortChildren::Impl {
    explicit Impl(std::size_t count) : children(count), ended(count, false) {}

    win::WinHandle job{MakeJob()};
    ChildOutputQueue queue;  // before the children, whose readers push to it to the end
    std::vector<WinPortChild> children;
    std::vector<bool> ended;
};

PortChildren::PortChildren(std::size_t count) : m_impl(std::make_unique<Impl>(count)) {}

PortChildren::~PortChildren() = default;

bool PortChildren::Start(std::size_t port, const std::filesystem::path& program,
                         const std::vector<std::string>& argv, std::string& error) {
    return m_impl->children[port].Start(program, argv, m_impl->job ? m_impl->job.Get() : nullptr,
                                        m_impl->queue, port, error);
}

long PortChildren::Pid(std::size_t port) const {
    return static_cast<long>(m_impl->children[port].Pid());
}

void PortChildren::TakeOutput(std::chrono::milliseconds slice, const OutputSink& take) {
    for (const ChildOutputQueue::Piece& piece : m_impl->queue.Take(slice)) {
        switch (piece.kind) {
            case ChildOutputQueue::Piece::Kind::Out:
                take(piece.port, Stream::Out, piece.bytes);
                break;
            case ChildOutputQueue::Piece::Kind::Err:
                take(piece.port, Stream::Err, piece.bytes);
                break;
            case ChildOutputQueue::Piece::Kind::End:
                // Its last piece: everything the child wrote has been taken before it.
                m_impl->children[piece.port].JoinReader();
                m_impl->ended[piece.port] = true;
                break;
        }
    }
}

bool PortChildren::OutputEnded(std::size_t port) const {
    return m_impl->ended[port];
}

void PortChildren::DropOutput(std::size_t port) {
    m_impl->children[port].StopReading();
}

void PortChildren::Interrupt(std::size_t port) {
    m_impl->children[port].Interrupt();
}

void PortChildren::Kill(std::size_t port) {
    m_impl->children[port].Kill();
}

std::optional<ChildEnd> PortChildren::Reap(std::size_t port) {
    return m_impl->children[port].Reap();
}

std::filesystem::path OwnProgram() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // cut short: a longer path than MAX_PATH
    }
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) &&
        info.srWindow.Right > info.srWindow.Left) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
}

}  // namespace tarvik::cli
