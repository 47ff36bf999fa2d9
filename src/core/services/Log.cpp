// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/Log.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/sinks/syslog_sink.h>
#include <syslog.h>

#include "core/BuildInfo.h"

namespace kolvex {

namespace {

// Forwards every message to the live captures. Guarded by its own mutex.
class CaptureRegistry {
public:
    static CaptureRegistry& shared() {
        static CaptureRegistry registry;
        return registry;
    }
    void add(LogCapture* capture) {
        std::lock_guard lock(m_mutex);
        m_captures.push_back(capture);
    }
    void remove(LogCapture* capture) {
        std::lock_guard lock(m_mutex);
        m_captures.erase(std::remove(m_captures.begin(), m_captures.end(), capture), m_captures.end());
    }
    void dispatch(const LogCapture::Entry& entry) {
        std::lock_guard lock(m_mutex);
        for (auto* capture : m_captures) capture->record(entry);
    }

private:
    std::mutex m_mutex;
    std::vector<LogCapture*> m_captures;
};

class CaptureSink final : public spdlog::sinks::base_sink<std::mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        LogCapture::Entry entry{std::string(msg.logger_name.data(), msg.logger_name.size()),
                                std::string(spdlog::level::to_string_view(msg.level).data(),
                                            spdlog::level::to_string_view(msg.level).size()),
                                std::string(msg.payload.data(), msg.payload.size())};
        CaptureRegistry::shared().dispatch(entry);
    }
    void flush_() override {}
};

std::vector<spdlog::sink_ptr> makeSinks() {
    std::vector<spdlog::sink_ptr> sinks;
    sinks.push_back(std::make_shared<CaptureSink>());
    const char* mode = std::getenv("KOLVEX_LOG");
    if (mode && std::strcmp(mode, "stderr") == 0) {
        sinks.push_back(std::make_shared<spdlog::sinks::stderr_color_sink_mt>());
    } else if (!mode || std::strcmp(mode, "capture") != 0) {
        sinks.push_back(std::make_shared<spdlog::sinks::syslog_sink_mt>(buildinfo::kBundleIdentifier, LOG_PID,
                                                                        LOG_USER, true));
    }
    return sinks;
}

std::atomic<bool> g_debugLogging{false};

std::vector<std::shared_ptr<spdlog::logger>>& allLoggers() {
    static std::vector<std::shared_ptr<spdlog::logger>> loggers;
    return loggers;
}
std::mutex g_loggersMutex;

spdlog::level::level_enum currentLevel() {
    // Debug lines are written (to the system log or stderr) only while the user asks for them;
    // captured logs (tests) see everything.
    const char* mode = std::getenv("KOLVEX_LOG");
    if (g_debugLogging || (mode && std::strcmp(mode, "capture") == 0)) return spdlog::level::debug;
    return spdlog::level::info;
}

std::shared_ptr<spdlog::logger> makeLogger(const char* category) {
    static const std::vector<spdlog::sink_ptr> sinks = makeSinks();
    auto logger = std::make_shared<spdlog::logger>(category, sinks.begin(), sinks.end());
    logger->set_level(currentLevel());
    std::lock_guard lock(g_loggersMutex);
    allLoggers().push_back(logger);
    logger->set_pattern("[%n] %l: %v");
    return logger;
}

}  // namespace

bool Log::debugLogging() {
    return g_debugLogging;
}

void Log::setDebugLogging(bool enabled) {
    g_debugLogging = enabled;
    std::lock_guard lock(g_loggersMutex);
    for (auto& logger : allLoggers()) logger->set_level(currentLevel());
}

const std::string& Log::subsystem() {
    static const std::string value = buildinfo::kBundleIdentifier;
    return value;
}

#define KOLVEX_LOGGER(fn, category)                     \
    spdlog::logger& Log::fn() {                         \
        static const auto logger = makeLogger(category); \
        return *logger;                                 \
    }
KOLVEX_LOGGER(app, "app")
KOLVEX_LOGGER(interaction, "interaction")
KOLVEX_LOGGER(conversion, "conversion")
KOLVEX_LOGGER(engine, "engine")
KOLVEX_LOGGER(files, "files")
KOLVEX_LOGGER(process, "process")
KOLVEX_LOGGER(performance, "performance")
#undef KOLVEX_LOGGER

Log::Interval::Interval(std::string name) : m_name(std::move(name)), m_start(std::chrono::steady_clock::now()) {
    Log::performance().info("begin {}", m_name);
}

Log::Interval::~Interval() { end(); }

void Log::Interval::end() {
    if (m_ended) return;
    m_ended = true;
    const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start);
    Log::performance().info("{} took {:.1f} ms", m_name, elapsed.count());
}

LogCapture::LogCapture() { CaptureRegistry::shared().add(this); }
LogCapture::~LogCapture() { CaptureRegistry::shared().remove(this); }

std::vector<LogCapture::Entry> LogCapture::entries() const {
    std::lock_guard lock(m_mutex);
    return m_entries;
}

bool LogCapture::contains(const std::string& category, const std::string& text) const {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.category == category && e.message.find(text) != std::string::npos;
    });
}

void LogCapture::clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

void LogCapture::record(Entry entry) {
    std::lock_guard lock(m_mutex);
    m_entries.push_back(std::move(entry));
}

}  // namespace kolvex
