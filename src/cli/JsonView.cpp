#include "cli/JsonView.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace tarvik::cli {

std::string EventLine(const JsonEvent& event) {
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

double Hundredths(double seconds) {
    // JSON has no infinity; a time is never one anyway. Rounded here, the number prints
    // as its two decimals (12.34, not 12.339999).
    return std::isfinite(seconds) ? std::round(seconds * 100) / 100 : 0;
}

JsonEvent MessageEvent(const std::string& port, const std::string& caption, const std::string& text,
                       const char* icon) {
    return {
        {"event", "message"}, {"port", port}, {"caption", caption}, {"text", text}, {"icon", icon}};
}

JsonEvent ResultEvent(const std::string& port, FlashResult result, int exitStatus, double seconds,
                      std::uint64_t bytes) {
    return {{"event", "result"},
            {"port", port},
            {"result", ResultName(result)},
            {"exit", exitStatus},
            {"seconds", Hundredths(seconds)},
            {"bytes", bytes}};
}

JsonEvent CommandLineFailureEvent(const std::string& port, const std::string& text) {
    return MessageEvent(port, "tarvik-flash", text, "hand");
}

JsonView::JsonView(std::FILE* out, std::string port) : m_out(out), m_port(std::move(port)) {}

void JsonView::Emit(const JsonEvent& event) {
    std::fputs(EventLine(event).c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void JsonView::Write(const JsonEvent& event) {
    WritePendingPercent();
    Emit(event);
}

JsonEvent JsonView::ProgressEvent() const {
    return {{"event", "progress"}, {"port", m_port}, {"percent", std::max(m_progress, 0)}};
}

void JsonView::WritePendingPercent() {
    if (m_percentPending) {
        m_percentPending = false;
        Emit(ProgressEvent());
    }
}

void JsonView::ShowData(const DialogData& data) {
    std::lock_guard lock(m_lock);
    if (data.m_strStatus == m_status) {
        return;
    }
    m_status = data.m_strStatus;
    Write({{"event", "status"}, {"port", m_port}, {"text", m_status}});
}

void JsonView::ShowMessageBox(const MessageBoxRequest& box) {
    std::lock_guard lock(m_lock);
    Write(MessageEvent(m_port, box.caption, box.text, IconName(box)));
}

void JsonView::SetProgress(int position) {
    std::lock_guard lock(m_lock);
    if (position == m_progress) {
        return;
    }
    WritePendingPercent();
    m_progress = position;
    m_percentPending = true;
}

void JsonView::SetBlockProgress(std::uint32_t done, std::uint32_t total, std::uint64_t bytes) {
    std::lock_guard lock(m_lock);
    m_percentPending = false;
    m_runBytes = bytes;
    JsonEvent event = ProgressEvent();
    event["block"] = done;
    event["blocks"] = total;
    event["bytes"] = bytes;
    Emit(event);
}

void JsonView::Failure(const std::string& text) {
    std::lock_guard lock(m_lock);
    Write(CommandLineFailureEvent(m_port, text));
}

void JsonView::BeginRun(const std::string& port) {
    std::lock_guard lock(m_lock);
    WritePendingPercent();
    m_port = port;
    m_progress = -1;
    m_earlierBytes += m_runBytes;
    m_runBytes = 0;
}

void JsonView::EndRun() {
    std::lock_guard lock(m_lock);
    WritePendingPercent();
}

void JsonView::Finish(FlashResult result, int exitStatus, double seconds) {
    std::lock_guard lock(m_lock);
    Write(ResultEvent(m_port, result, exitStatus, seconds, m_earlierBytes + m_runBytes));
}

}  // namespace tarvik::cli
