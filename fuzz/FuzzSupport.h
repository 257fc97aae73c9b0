// What the fuzz targets share: the input taken from the front, a check that stops the run,
// a view that keeps its boxes, a clock that moves on every look, and a serial port that
// answers with the input.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/DialogView.h"
#include "clock/Clock.h"
#include "serial/SerialPort.h"

namespace tarvik::fuzz {

// A broken promise is a finding: libFuzzer keeps the input that led here.
inline void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// The fuzz bytes, taken from the front so that a seed reads the way it is written.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_bytes(data, size) {}

    bool Empty() const { return m_bytes.empty(); }
    std::uint8_t Byte() {
        if (m_bytes.empty()) {
            return 0;
        }
        const std::uint8_t byte = m_bytes.front();
        m_bytes = m_bytes.subspan(1);
        return byte;
    }
    std::span<const std::uint8_t> Take(std::size_t n) {
        const auto taken = m_bytes.first(std::min(n, m_bytes.size()));
        m_bytes = m_bytes.subspan(taken.size());
        return taken;
    }
    std::span<const std::uint8_t> Rest() { return Take(m_bytes.size()); }

private:
    std::span<const std::uint8_t> m_bytes;
};

// Nothing on screen; the boxes are kept for the checks.
class BoxKeepingView : public DialogView {
public:
    void ShowData(const DialogData&) override {}
    void ReadData(DialogData&) override {}
    void ShowMessageBox(const MessageBoxRequest& box) override { boxes.push_back(box); }
    void SetProgress(int) override {}
    void EnableRun(bool) override {}
    std::optional<std::filesystem::path> AskFirmwareFile() override { return std::nullopt; }
    bool Confirm(const std::string&, const std::string&) override { return true; }

    std::vector<MessageBoxRequest> boxes;
};

// Time moves by `step` at every look and by the whole pause at every sleep, so a 5-second
// time-out ends after a few hundred looks and nothing ever waits.
class SteppingClock : public Clock {
public:
    explicit SteppingClock(Duration step) : m_step(step) {}

    TimePoint Now() const override { return m_now += m_step; }
    void SleepFor(Duration d) const override { m_now += d; }
    void SleepUntil(TimePoint t) const override { m_now = std::max(m_now, t); }
    std::chrono::microseconds RealDuration(Duration d) const override { return d; }

    Duration Elapsed() const { return std::chrono::duration_cast<Duration>(m_now - TimePoint{}); }

private:
    Duration m_step;
    mutable TimePoint m_now{};
};

// How a scripted port hands out its bytes: `emptyReads` reads that find nothing, then the
// bytes in pieces of at most `chunk` (0: as many as asked for), then nothing at all, or a
// failure when `failAtEnd`. Two header bytes: bit 0 of the first is failAtEnd, its other
// bits the empty reads; the second the chunk.
struct PortScript {
    bool failAtEnd = false;
    unsigned emptyReads = 0;
    std::size_t chunk = 0;
    std::span<const std::uint8_t> bytes;
};

inline PortScript ReadPortScript(InputReader& input) {
    PortScript script;
    const std::uint8_t flags = input.Byte();
    script.failAtEnd = (flags & 1) != 0;
    script.emptyReads = flags >> 1;
    script.chunk = input.Byte();
    script.bytes = input.Rest();
    return script;
}

// A serial port whose far end says what the script says and hears everything.
class ScriptedPort : public SerialPort {
public:
    explicit ScriptedPort(const PortScript& script)
        : m_script(script), m_emptyReads(script.emptyReads) {}

    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
        ++reads;
        if (!m_open) {
            return std::nullopt;
        }
        if (m_emptyReads > 0) {
            --m_emptyReads;
            return 0;
        }
        if (delivered == m_script.bytes.size()) {
            if (m_script.failAtEnd) {
                return std::nullopt;
            }
            return 0;
        }
        std::size_t n = std::min(buf.size(), m_script.bytes.size() - delivered);
        if (m_script.chunk != 0) {
            n = std::min(n, m_script.chunk);
        }
        std::copy_n(m_script.bytes.begin() + static_cast<std::ptrdiff_t>(delivered), n,
                    buf.begin());
        if (delivered == 0 && n > 0) {
            firstPiece.assign(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
        }
        delivered += n;
        return n;
    }
    bool Write(std::span<const std::uint8_t> data) override {
        if (!m_open) {
            return false;
        }
        writes.emplace_back(data.begin(), data.end());
        return true;
    }
    void Purge() override {}
    void Close() override { m_open = false; }
    bool IsOpen() const override { return m_open; }

    std::size_t delivered = 0;             // script bytes handed out so far
    std::vector<std::uint8_t> firstPiece;  // what the first read with bytes handed out
    std::vector<std::vector<std::uint8_t>> writes;
    unsigned reads = 0;

private:
    PortScript m_script;
    unsigned m_emptyReads;
    bool m_open = true;
};

// Opens the one scripted port on any device, or refuses with `error`.
class ScriptedOpener : public SerialPortOpener {
public:
    explicit ScriptedOpener(std::shared_ptr<ScriptedPort> port, int error = 0)
        : m_port(std::move(port)), m_error(error) {}

    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override {
        opens.push_back({device, baud});
        if (m_error != 0) {
            return {nullptr, {m_error, "refused by the fuzz input", {}}};
        }
        return {m_port, {}};
    }

    struct Opening {
        std::filesystem::path device;
        std::uint32_t baud = 0;
    };
    std::vector<Opening> opens;

private:
    std::shared_ptr<ScriptedPort> m_port;
    int m_error;
};

// A folder of this process's own under the temporary folder, gone when the run ends.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvik-fuzz-XXXXXX").string();
        Check(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch folder");
        m_path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline void WriteFile(const std::filesystem::path& file, std::span<const std::uint8_t> bytes) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    Check(out != nullptr, "cannot write a scratch file");
    Check(std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size(),
          "cannot write a scratch file");
    std::fclose(out);
}

}  // namespace tarvik::fuzz
