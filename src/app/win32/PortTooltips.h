#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "serial/PortNames.h"

namespace tarvik::win32 {

// The port list's tooltip: what is behind the chosen entry, from the machine's port listing
// (the same as `tarvik-flash --list`), listed again each time the list opens so that a device
// plugged in meanwhile shows. Window thread only.
class PortTooltips {
public:
    explicit PortTooltips(const PortNames& ports) : m_ports(ports) {}

    // A tooltip control over `combo`, owned by `dialog` and destroyed with it.
    void Create(HWND dialog, HWND combo);
    // Lists the ports again and rewrites every entry's text.
    void Refresh();
    // A fixed text for entry `index` instead of the listing's (the demo's simulators, which
    // no listing of the machine can see).
    void SetNote(int index, std::string note);
    // Entry `index`'s text; empty for none.
    std::string Text(int index) const;
    // Answers the tooltip's request for its text (TTN_GETDISPINFOW); true when it was one.
    bool OnNotify(NMHDR& header);

private:
    const PortNames& m_ports;
    HWND m_combo = nullptr;
    std::map<int, std::string> m_notes;
    std::vector<std::string> m_texts;
    std::wstring m_shown;  // the text the tooltip shows now; it reads it from here
};

}  // namespace tarvik::win32
