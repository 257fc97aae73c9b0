#include "sim/LoaderRecord.h"

#include <algorithm>
#include <iterator>

#include "image/FirmwareBlock.h"

namespace tarvik::sim {

namespace {

constexpr std::size_t kPageSize = 256;

}  // namespace

template <typename Change>
void LoaderRecord::Publish(Change change) {
    std::lock_guard lock(m_lock);
    change();
    m_changed.notify_all();
}

void LoaderRecord::AddLog(std::string entry) {
    Publish([&] { m_log.push_back(std::move(entry)); });
}

void LoaderRecord::AddError(std::string text) {
    Publish([&] { m_errors.push_back(std::move(text)); });
}

void LoaderRecord::Erase() {
    Publish([&] {
        m_pages.clear();
        m_blocks.clear();
    });
}

void LoaderRecord::AddBlock(std::uint16_t page, std::span<const std::uint8_t> data) {
    Publish([&] { KeepBlock(page, data); });
}

void LoaderRecord::Add(Batch batch) {
    Publish([&] {
        std::ranges::move(batch.log, std::back_inserter(m_log));
        std::ranges::move(batch.errors, std::back_inserter(m_errors));
        for (const auto& [page, data] : batch.blocks) {
            KeepBlock(page, data);
        }
    });
}

// The caller holds the lock.
void LoaderRecord::KeepBlock(std::uint16_t page, std::span<const std::uint8_t> data) {
    m_pages.push_back(page);
    m_blocks[page].assign(data.begin(), data.end());
}

std::vector<std::string> LoaderRecord::Log() const {
    std::lock_guard lock(m_lock);
    return m_log;
}

std::vector<std::string> LoaderRecord::Errors() const {
    std::lock_guard lock(m_lock);
    return m_errors;
}

std::vector<std::uint16_t> LoaderRecord::Pages() const {
    std::lock_guard lock(m_lock);
    return m_pages;
}

std::vector<std::uint8_t> LoaderRecord::Flashed() const {
    std::lock_guard lock(m_lock);
    if (m_blocks.empty()) {
        return {};
    }
    const std::size_t end = m_blocks.rbegin()->first * kPageSize + kBlockSize;
    std::vector<std::uint8_t> image(end, 0);
    for (const auto& [page, data] : m_blocks) {
        std::ranges::copy(data, image.begin() + static_cast<std::ptrdiff_t>(page * kPageSize));
    }
    return image;
}

bool LoaderRecord::WaitForLog(const std::string& entry, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout,
                              [&] { return std::ranges::find(m_log, entry) != m_log.end(); });
}

}  // namespace tarvik::sim
