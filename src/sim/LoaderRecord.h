#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::sim {

// What a simulated loader saw and kept, as the tests read it: the loader writes it from its
// thread while a test reads it from another. Every call takes the record's own lock and takes
// no other lock while holding it, so a loader may call in while it holds a lock of its own.
class LoaderRecord {
public:
    // What one step of a loader adds, for readers to see all of it or none of it.
    struct Batch {
        std::vector<std::string> log;
        std::vector<std::string> errors;
        std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> blocks;
    };

    void AddLog(std::string entry);
    void AddError(std::string text);
    // A download begins afresh: nothing is flashed any more. The log and errors stay.
    void Erase();
    // A block about to be acknowledged; a later block at the same page replaces it.
    void AddBlock(std::uint16_t page, std::span<const std::uint8_t> data);
    void Add(Batch batch);

    std::vector<std::string> Log() const;
    std::vector<std::string> Errors() const;
    // The pages flashed, in the order they were acknowledged.
    std::vector<std::uint16_t> Pages() const;
    // Each block at page × 256, zero elsewhere, up to the end of the highest block.
    std::vector<std::uint8_t> Flashed() const;
    // Waits until Log() holds `entry`; false after `timeout` of real time.
    bool WaitForLog(const std::string& entry, std::chrono::milliseconds timeout) const;

private:
    // Makes a change under the lock and wakes WaitForLog.
    template <typename Change>
    void Publish(Change change);
    void KeepBlock(std::uint16_t page, std::span<const std::uint8_t> data);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_log;
    std::vector<std::string> m_errors;
    std::vector<std::uint16_t> m_pages;
    std::map<std::uint16_t, std::vector<std::uint8_t>> m_blocks;
};

}  // namespace tarvik::sim
