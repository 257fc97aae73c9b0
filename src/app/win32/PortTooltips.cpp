#include "app/win32/PortTooltips.h"

#include <commctrl.h>

#include "app/win32/WideText.h"
#include "ports/PortListing.h"

namespace tarvik::win32 {
namespace {

constexpr int kTipWidth = 480;  // pixels; a longer text wraps

}  // namespace

void PortTooltips::Create(HWND dialog, HWND combo) {
    m_combo = combo;
    const HWND tip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                        GetModuleHandleW(nullptr), nullptr);
    if (!tip) {
        return;  // the window works without its tooltips
    }
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    // The whole combo box, which the tooltip watches itself; the text is asked for each time
    // it shows, so it follows the selection however it changed.
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(combo);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
    Refresh();
}

void PortTooltips::Refresh() {
    const ports::PortListing listing = ports::ListPorts({}, m_ports);
    const LRESULT count = m_combo ? SendMessageW(m_combo, CB_GETCOUNT, 0, 0) : 0;
    m_texts.clear();
    for (int n = 0; n < count; ++n) {
        const auto note = m_notes.find(n);
        m_texts.push_back(note != m_notes.end() ? note->second : ports::PortTooltip(listing, n));
    }
}

void PortTooltips::SetNote(int index, std::string note) {
    m_notes[index] = std::move(note);
    Refresh();
}

std::string PortTooltips::Text(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < m_texts.size() ? m_texts[index] : "";
}

bool PortTooltips::OnNotify(NMHDR& header) {
    if (header.code != TTN_GETDISPINFOW || header.idFrom != reinterpret_cast<UINT_PTR>(m_combo)) {
        return false;
    }
    auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
    const LRESULT index = SendMessageW(m_combo, CB_GETCURSEL, 0, 0);
    m_shown = WideText(Text(static_cast<int>(index)));
    info.lpszText = m_shown.data();
    info.hinst = nullptr;
    return true;
}

}  // namespace tarvik::win32
