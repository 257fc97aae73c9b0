#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/PortEvents.h"
#include "cli/TransferRate.h"

namespace tarvik::cli {

// How a parallel run shows its ports.
enum class BoardMode {
    Terminal,  // one line a port, redrawn in place
    Lines,     // a line a status change and a 10 % step, each prefixed with its port
    Json,      // the children's objects as they come, then a summary object
    Quiet,     // failures only, and the table only when something failed
};

// What the parent of a parallel run shows while its children flash, and at the end. It
// takes the children's lines and knows nothing of processes, so it can be fed by hand.
class PortBoard {
public:
    PortBoard(const std::vector<std::string>& ports, BoardMode mode, std::FILE* out, std::FILE* err,
              int columns = 80, TimeSource now = RealTime());

    void Started(std::size_t port, long pid);
    // A line of the child's standard output, without its newline.
    void TakeLine(std::size_t port, std::string_view line);
    // Bytes of the child's standard error.
    void TakeErr(std::size_t port, std::string_view bytes);
    void Ended(std::size_t port, ChildEnd end, double seconds);
    // A port whose child could not be started at all.
    void NotStarted(std::size_t port, const std::string& why);
    // Terminal mode: redraws the port lines when something changed since the last time.
    void Redraw();
    // The summary; returns the exit status of the whole run.
    int Finish(bool interrupted);

    const std::vector<PortState>& States() const { return m_ports; }

    // A port's line in terminal mode, at most `columns` - 1 characters wide; `rate` is its
    // rate and time left while it downloads ("11.1 KiB/s  0:06 left"):
    //   COM1    [##########..........]  50%  11.1 KiB/s  0:06 left  Progressing...
    static std::string TerminalLine(const PortState& port, std::size_t portColumn, int columns,
                                    const std::string& rate = {});

private:
    void Say(std::FILE* stream, const std::string& text);
    void ShowMessage(const PortState& port, const PortMessage& message);
    void ShowEnd(const PortState& port);
    void ClearBlock();
    void Write(std::FILE* stream, const std::string& text);

    std::vector<PortState> m_ports;
    std::vector<int> m_shownStep;  // Lines mode: the last 10 % step shown per port
    // Timed by the arrival of the children's block events: a child's own lines carry no time.
    std::vector<TransferRate> m_rates;
    const BoardMode m_mode;
    std::FILE* m_out;
    std::FILE* m_err;
    const int m_columns;
    const TimeSource m_now;
    std::size_t m_portColumn = 0;
    int m_drawnLines = 0;  // Terminal mode: port lines on the screen below the cursor's row
    bool m_dirty = true;
};

}  // namespace tarvik::cli
