// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/logger.h>

namespace kolvex {

// The application's loggers, one per category, created once and shared by every thread.
// Messages go to the system log (the journal) by default, to stderr when KOLVEX_LOG=stderr;
// tests attach a LogCapture to read what was logged.
class Log {
public:
    static const std::string& subsystem();  // the bundle identifier
    // Debug messages are written only while this is on (the "debug logging" setting); a capture
    // (KOLVEX_LOG=capture) records them always.
    static void setDebugLogging(bool enabled);
    static bool debugLogging();

    static spdlog::logger& app();
    static spdlog::logger& interaction();
    static spdlog::logger& conversion();
    static spdlog::logger& engine();
    static spdlog::logger& files();
    static spdlog::logger& process();
    static spdlog::logger& performance();

    // A performance interval: logs "<name> took N ms" to the performance category when it ends.
    class Interval {
    public:
        explicit Interval(std::string name);
        ~Interval();
        void end();
        Interval(const Interval&) = delete;
        Interval& operator=(const Interval&) = delete;

    private:
        std::string m_name;
        std::chrono::steady_clock::time_point m_start;
        bool m_ended = false;
    };
};

// Records every message logged while it lives (all categories). For tests.
class LogCapture {
public:
    struct Entry {
        std::string category;
        std::string level;
        std::string message;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Entry> entries() const;
    // True when some message of the category contains the text.
    bool contains(const std::string& category, const std::string& text) const;
    void clear();

    // Internal: called by the capturing sink.
    void record(Entry entry);

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

}  // namespace kolvex
