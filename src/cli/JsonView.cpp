#include "cli/JsonView.h"

#include "cli/JsonText.h"

namespace tarvik::cli {

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
    Write(JsonObject()
              .AddString("event", "message")
              .AddString("port", m_port)
              .AddString("caption", box.caption)
              .AddString("text", box.text)
              .AddString("icon", IconName(box))
              .Text());
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
    Write(JsonObject()
              .AddString("event", "message")
              .AddString("port", m_port)
              .AddString("caption", "tarvik-flash")
              .AddString("text", text)
              .AddString("icon", "hand")
              .Text());
}

void JsonView::BeginRun(const std::string& port) {
    std::lock_guard lock(m_lock);
    m_port = port;
    m_progress = -1;
}

void JsonView::Finish(FlashResult result, int exitStatus, double seconds) {
    std::lock_guard lock(m_lock);
    Write(JsonObject()
              .AddString("event", "result")
              .AddString("port", m_port)
              .AddString("result", ResultName(result))
              .AddInt("exit", exitStatus)
              .AddFixed("seconds", seconds, 2)
              .Text());
}

}  // namespace tarvik::cli
