#include "serial/WinSerialPort.h"
#include "serial/GatedSerialPort.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "serial/WinCommSettings.h"
#include "serial/WinErrorText.h"
#include "serial/WinPortClaim.h"

namespace tarvik {
namespace {

// A write request at most this long: its completion tells that the line moves, also where
// the driver does not count a pending request in its output queue. At 2400 baud it takes a
// second, well inside the stall limit.
constexpr DWORD kWriteChunk = 256;
// How often a blocked write looks at the output queue for progress, in real time.
constexpr DWORD kWriteSliceMs = 50;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The event a request is handed: `event` with its lowest bit set. The system still sets it
// when the request is done, but posts no completion packet for it. The port belongs to no
// completion port, yet without the bit every request that completes at once costs a call to
// post one: under Wine a round trip to its server, for every byte of a download.
HANDLE WithoutCompletionPacket(HANDLE event) {
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
}

// Owns a handle until it is handed over.
class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~Handle() {
        if (*this) {
            ::CloseHandle(m_handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    explicit operator bool() const {
        return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
    }
    HANDLE Get() const { return m_handle; }
    HANDLE Release() { return std::exchange(m_handle, nullptr); }

private:
    HANDLE m_handle;
};

// Close and Abort must wake a thread blocked in ReadFile or WriteFile on the same port. A
// synchronous handle cannot do it: the system serialises its requests, so a second thread's
// write would also wait behind a blocked read (the tool reads on one thread while it writes
// on another), and the only way out would be PurgeComm's abort flags, which race with a
// request about to start. So the handle is overlapped: every request has its own event and
// waits on it together with the port's close event, and a request that is to end early is
// cancelled with CancelIoEx and waited for, so that the system is done with its buffer and
// its OVERLAPPED before they go away. The handle is closed only once no request is left.
class WinSerialPort final : public GatedSerialPort {
public:
    WinSerialPort(const Clock& clock, Clock::Duration writeStallLimit, win::PortClaim claim,
                  HANDLE comm, HANDLE closing)
        : GatedSerialPort(clock, writeStallLimit),
          m_claim(std::move(claim)),
          m_comm(comm),
          m_closing(closing) {}

    ~WinSerialPort() override { Close(); }

private:
    // The driver's own time-outs count real time; with a clock of our own the gaps and the
    // total are ours. So a read takes what has already arrived, and otherwise waits for one
    // byte at a time: that byte's arrival is the time the gap counts from.
    std::optional<std::size_t> ReadSome(std::span<std::uint8_t> rest, Clock::TimePoint,
                                        Clock::TimePoint deadline) override {
        const auto queued = InputQueued();
        if (!queued) {
            return std::nullopt;
        }
        const std::size_t want = std::clamp<std::size_t>(*queued, 1, rest.size());
        return Transfer(nullptr, rest.data(), want, deadline);
    }

    bool WriteAll(std::span<const std::uint8_t> data) override {
        std::size_t done = 0;
        while (done < data.size()) {
            const std::size_t chunk = std::min<std::size_t>(data.size() - done, kWriteChunk);
            const auto k = Transfer(data.data() + done, nullptr, chunk, Clock::TimePoint::max());
            if (!k) {
                return false;
            }
            done += *k;
        }
        return true;
    }

    void PurgeQueues() override { ::PurgeComm(m_comm, kPurgeAll); }

    // From now on every wait of every request wakes.
    void WakeWaits() override { ::SetEvent(m_closing); }

    std::optional<std::size_t> OutputQueued() const override {
        const auto queues = Queues();
        return queues ? std::optional<std::size_t>(queues->cbOutQue) : std::nullopt;
    }

    void DropOutput() override { ::PurgeComm(m_comm, PURGE_TXABORT | PURGE_TXCLEAR); }

    // No request is left and none can start, so the handle is ours alone.
    void ReleaseSystem() override {
        ::CloseHandle(m_comm);
        ::CloseHandle(m_closing);
        for (const HANDLE event : m_events) {
            ::CloseHandle(event);
        }
        m_claim.Give();
    }

    // One request of `size` bytes: a write of `out`, or a read into `in`. A read waits until
    // `deadline`; a write until the line has taken nothing for the stall limit. The count
    // moved, or nothing when the port failed, was closed, or a write stalled.
    std::optional<std::size_t> Transfer(const std::uint8_t* out, std::uint8_t* in, std::size_t size,
                                        Clock::TimePoint deadline) {
        const bool write = out != nullptr;
        const EventLease event(*this);
        if (!event) {
            return std::nullopt;
        }
        OVERLAPPED ov{};
        ov.hEvent = WithoutCompletionPacket(event.Get());
        const auto length = static_cast<DWORD>(size);
        DWORD moved = 0;
        const BOOL finished = write ? ::WriteFile(m_comm, out, length, &moved, &ov)
                                    : ::ReadFile(m_comm, in, length, &moved, &ov);
        if (finished) {
            // Done at once; the event is set as well, and the count is the final one.
            return Result(write, size, ov);
        }
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            return Ended(error, write, size, 0);
        }
        auto stalledAt = m_clock.Now() + m_writeStallLimit;
        // The output queue as last seen; first looked at once a slice has passed, so that a
        // write done within its first slice (every byte of a download on a moving line) costs
        // no look at all. That first look counts as progress: a write is never failed sooner
        // than the stall limit after the line last took a byte.
        std::optional<std::size_t> outQueued;
        const HANDLE waits[2] = {event.Get(), m_closing};
        for (;;) {
            const auto now = m_clock.Now();
            const auto until = write ? stalledAt : deadline;
            if (now >= until) {
                break;
            }
            DWORD wait = static_cast<DWORD>(WaitMilliseconds(now, until));
            if (write) {
                wait = std::min(wait, kWriteSliceMs);
            }
            const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, wait);
            if (woke == WAIT_OBJECT_0) {
                return Result(write, size, ov);
            }
            if (woke != WAIT_TIMEOUT) {
                Cancel(ov);
                return std::nullopt;  // closed while we waited, or the wait itself failed
            }
            if (write) {
                // A pending write moves while the driver's output queue shrinks.
                const auto queued = OutputQueued();
                if (queued && (!outQueued || *queued < *outQueued)) {
                    stalledAt = m_clock.Now() + m_writeStallLimit;
                }
                outQueued = queued ? queued : outQueued;
            }
        }
        // A read's time is up: whatever came before the cancel counts. A write that stalled
        // fails, whatever part of it went out.
        const auto count = Cancel(ov);
        if (write) {
            return std::nullopt;
        }
        return count;
    }

    // A request's event: a kept one, or a new one; kept again once the request is over.
    class EventLease {
    public:
        explicit EventLease(WinSerialPort& port) : m_port(port) {
            std::lock_guard lock(port.m_eventsLock);
            if (port.m_events.empty()) {
                m_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
            } else {
                m_event = port.m_events.back();
                port.m_events.pop_back();
            }
        }
        ~EventLease() {
            if (m_event != nullptr) {
                std::lock_guard lock(m_port.m_eventsLock);
                m_port.m_events.push_back(m_event);
            }
        }
        EventLease(const EventLease&) = delete;
        EventLease& operator=(const EventLease&) = delete;
        explicit operator bool() const { return m_event != nullptr; }
        HANDLE Get() const { return m_event; }

    private:
        WinSerialPort& m_port;
        HANDLE m_event = nullptr;
    };

    // The count of a finished request.
    std::optional<std::size_t> Result(bool write, std::size_t size, OVERLAPPED& ov) {
        DWORD moved = 0;
        if (::GetOverlappedResult(m_comm, &ov, &moved, FALSE)) {
            return moved;
        }
        return Ended(::GetLastError(), write, size, moved);
    }

    // What a request that ended with `error` moved. The driver's own read time-out is no
    // failure: Windows completes the read short, Wine reports ERROR_TIMEOUT. Nor is an abort
    // by a purge from another thread: a read brought what it had, a write's bytes were dropped
    // with the rest of the queue. Anything else is, and so is an abort by a close.
    std::optional<std::size_t> Ended(DWORD error, bool write, std::size_t size, DWORD moved) const {
        if (error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT) {
            return moved;
        }
        if (error == ERROR_OPERATION_ABORTED &&
            ::WaitForSingleObject(m_closing, 0) != WAIT_OBJECT_0) {
            return write ? size : moved;
        }
        return std::nullopt;
    }

    // Cancels a pending request and waits until the system is done with it; what it moved.
    std::size_t Cancel(OVERLAPPED& ov) {
        ::CancelIoEx(m_comm, &ov);
        DWORD moved = 0;
        ::GetOverlappedResult(m_comm, &ov, &moved, TRUE);
        return moved;
    }

    // The driver's queues, in and out; nothing when the port failed.
    std::optional<COMSTAT> Queues() const {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(m_comm, &errors, &status)) {
            return std::nullopt;
        }
        return status;
    }

    std::optional<std::size_t> InputQueued() const {
        const auto queues = Queues();
        return queues ? std::optional<std::size_t>(queues->cbInQue) : std::nullopt;
    }

    win::PortClaim m_claim;  // given back once the handle is closed
    const HANDLE m_comm;
    const HANDLE m_closing;  // manual reset, set by Close and Abort

    // The events of finished requests, for the next ones: the tool writes a byte a request,
    // and an event made and closed for each costs two more calls into the system (under
    // Wine, two round trips to its server).
    std::mutex m_eventsLock;
    std::vector<HANDLE> m_events;  // under m_eventsLock
};

}  // namespace

SerialOpenResult SystemSerialPortOpener::Open(const std::filesystem::path& device,
                                              std::uint32_t baud) {
    if (!win::SupportedRate(baud)) {
        return OpenFailure(EINVAL, "no such baud rate: " + std::to_string(baud));
    }
    win::PortClaim claim(device);
    if (!claim) {
        return OpenFailure(EBUSY, "held by another program");
    }
    // Share mode 0: exclusive, also against other programs.
    Handle comm(::CreateFileW(device.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!comm) {
        return win::OpenFailureOf(::GetLastError());
    }
    if (auto failure = win::SetUpComm(comm.Get(), baud)) {
        return std::move(*failure);
    }
    Handle closing(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!closing) {
        return win::OpenFailureOf(::GetLastError());
    }
    auto port = std::make_shared<WinSerialPort>(m_clock, m_writeStallLimit, std::move(claim),
                                                comm.Get(), closing.Get());
    comm.Release();
    closing.Release();
    return {std::move(port), {}};
}

}  // namespace tarvik
