#include "cli/JsonView.h"

namespace tarvik::cli {

JsonObject MessageEvent(const std::string& port, const std::string& caption,
                        const std::string& text, const char* icon) {
    JsonObject event;
    event.AddString("event", "message")
        .AddString("port", port)
        .AddString("caption", caption)
        .AddString("text", text)
        .AddString("icon", icon);
    return event;
}

JsonObject ResultEvent(const std::string& port, FlashResult result, int exitStatus,
                       double seconds) {
    JsonObject event;
    event.AddString("event", "result")
        .AddString("port", port)
        .AddString("result", ResultName(result))
        .AddInt("exit", exitStatus)
        .AddFixed("seconds", seconds, 2);
    return event;
}

JsonObject CommandLineFailureEvent(const std::string& port, const std::string& text) {
    return MessageEvent(port, "tarvik-flash", text, "hand");
}

JsonView::JsonView(std::FILE* out, std::string port) : m_out(out), m_port(std::move(port)) {}

void JsonView::Write(const std::string& line) {
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void JsonView::ShowData(const DialogData& data) {
    std::lock_guard lock(m_lock);
    if (data.m_strStatus == m_status) {
        return;
    }
    m_status = data.m_strStatus;
    Write(JsonObject()
              .AddString("event", "status")
              .AddString("port", m_port)
              .AddString("text", m_status)
              .Text());
}

void JsonView::ShowMessageBox(const MessageBoxRequest& box) {
    std::lock_guard lock(m_lock);
    Write(MessageEvent(m_port, box.caption, box.text, IconName(box)).Text());
}

void JsonView::SetProgress(int position) {
    std::lock_guard lock(m_lock);
    if (position == m_progress) {
        return;
    }
    m_progress = position;
    Write(JsonObject()
              .AddString("event", "progress")
              .AddString("port", m_port)
              .AddInt("percent", position)
              .Text());
}

void JsonView::Failure(const std::string& text) {
    std::lock_guard lock(m_lock);
    Write(CommandLineFailureEvent(m_port, text).Text());
}

void JsonView::BeginRun(const std::string& port) {
    std::lock_guard lock(m_lock);
    m_port = port;
    m_progress = -1;
}

void JsonView::Finish(FlashResult result, int exitStatus, double seconds) {
    std::lock_guard lock(m_lock);
    Write(ResultEvent(m_port, result, exitStatus, seconds).Text());
}

}  // namespace tarvik::cli
