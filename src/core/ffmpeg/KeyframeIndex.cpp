#include "core/ffmpeg/KeyframeIndex.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <string>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <fmt/format.h>

#include "core/format/ConversionError.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// Lines end at LF, VT, FF, CR (CR LF counting once), NEL, LINE and PARAGRAPH SEPARATOR.
std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    size_t start = 0;
    const auto cut = [&](size_t end, size_t breakLength) {
        if (end > start) result.push_back(text.substr(start, end - start));
        start = end + breakLength;
    };
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || c == '\v' || c == '\f') {
            cut(i, 1);
            i += 1;
        } else if (c == '\r') {
            const size_t length = (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            cut(i, length);
            i += length;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            cut(i, 2);
            i += 2;
        } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            cut(i, 3);
            i += 3;
        } else {
            ++i;
        }
    }
    cut(text.size(), 0);
    return result;
}

bool isHorizontalSpace(UChar32 c) { return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR; }

std::string_view trimmed(std::string_view text) {
    int32_t begin = 0;
    const auto length = static_cast<int32_t>(text.size());
    while (begin < length) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(text.data(), next, length, c);
        if (c < 0 || !isHorizontalSpace(c)) break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(text.data(), 0, previous, c);
        if (c < 0 || !isHorizontalSpace(c)) break;
        end = previous;
    }
    return text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

// The whole text as a finite decimal number: an optional sign, nothing before or after it.
std::optional<double> decimal(std::string_view text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin != end && *begin == '-') return std::nullopt;
    }
    if (begin == end) return std::nullopt;
    double value = 0;
    const auto [ptr, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

KeyframeIndex::KeyframeIndex(std::vector<double> times) {
    std::erase_if(times, [](double t) { return !(t >= 0) || !std::isfinite(t); });
    std::sort(times.begin(), times.end());
    if (times.empty() || times.front() != 0) times.insert(times.begin(), 0.0);
    m_times = std::move(times);
}

KeyframeIndex KeyframeIndex::parse(std::string_view text) {
    std::vector<double> times;
    for (const auto line : lines(text)) {
        const std::string_view rest = trimmed(line);
        std::string_view value = rest;
        // The last non-empty comma-separated piece.
        size_t end = rest.size();
        while (end > 0) {
            const size_t comma = rest.rfind(',', end - 1);
            const size_t start = comma == std::string_view::npos ? 0 : comma + 1;
            if (end > start) {
                value = rest.substr(start, end - start);
                break;
            }
            if (comma == std::string_view::npos) break;
            end = comma;
        }
        if (value == "N/A") continue;
        if (const auto time = decimal(value)) times.push_back(*time);
    }
    return KeyframeIndex(std::move(times));
}

double KeyframeIndex::nearest(double time) const {
    if (m_times.empty()) return 0;
    // The first time not below `time`, and the one before it: the closer wins, the earlier on a tie.
    const auto after = std::lower_bound(m_times.begin(), m_times.end(), time);
    if (after == m_times.begin()) return *after;
    if (after == m_times.end()) return m_times.back();
    const double before = *std::prev(after);
    return std::abs(time - *after) < std::abs(time - before) ? *after : before;
}

double KeyframeIndex::atOrBefore(double time) const {
    if (m_times.empty()) return 0;
    if (time < m_times.front()) return m_times.front();
    return *std::prev(std::upper_bound(m_times.begin(), m_times.end(), time));
}

std::optional<double> KeyframeIndex::atOrAfter(double time) const {
    const auto found = std::lower_bound(m_times.begin(), m_times.end(), time);
    if (found == m_times.end()) return std::nullopt;
    return *found;
}

double KeyframeIndex::largestGap() const {
    double gap = 0;
    for (size_t i = 1; i < m_times.size(); ++i) gap = std::max(gap, m_times[i] - m_times[i - 1]);
    return gap;
}

bool KeyframeIndex::isAllIntra(int64_t frameCount) const {
    return frameCount >= 1 && static_cast<int64_t>(m_times.size()) >= frameCount;
}

KeyframeIndex FFprobeKeyframeReader::index(const fs::path& url, std::stop_token stop) const {
    const auto result = ProcessRunner().run(m_tools.ffprobe,
                                            {"-v", "error", "-select_streams", "v:0", "-skip_frame", "nokey", "-show_entries",
                                             "frame=pts_time", "-of", "csv=p=0", paths::absolute(url).string()},
                                            std::chrono::seconds(120), nullptr, nullptr, stop);
    if (!result.succeeded()) throw ConversionError::corruptedInput(url);
    return KeyframeIndex::parse(result.standardOutputData);
}

StreamCopyCuts FFprobeKeyframeReader::cuts(const fs::path& url, std::stop_token stop,
                                           std::optional<std::pair<double, double>> window) const {
    // Packets only: nothing is decoded, so even a whole film is read in moments.
    std::vector<std::string> arguments = {"-v", "error", "-select_streams", "V:0", "-show_entries",
                                          "packet=pts_time,dts_time,flags", "-of", "csv=p=0"};
    if (window)
        arguments.insert(arguments.end(),
                         {"-read_intervals", fmt::format("{:.3f}%{:.3f}", std::max(0.0, window->first), window->second)});
    arguments.push_back(paths::absolute(url).string());
    const auto result = ProcessRunner().run(m_tools.ffprobe, arguments, std::chrono::seconds(120), nullptr, nullptr, stop);
    if (!result.succeeded()) throw ConversionError::corruptedInput(url);
    return StreamCopyCuts::parse(result.standardOutputData);
}

StreamCopyCuts StreamCopyCuts::parse(std::string_view text) {
    std::vector<double> keyframes;
    double delay = 0;
    for (const auto line : lines(text)) {
        // "pts,dts,flags": a keyframe's flags begin with "K".
        const std::string_view rest = trimmed(line);
        const size_t first = rest.find(',');
        const size_t second = first == std::string_view::npos ? first : rest.find(',', first + 1);
        if (second == std::string_view::npos || second + 1 >= rest.size() || rest[second + 1] != 'K') continue;
        const auto pts = decimal(rest.substr(0, first));
        const auto dts = decimal(rest.substr(first + 1, second - first - 1));
        if (!pts) continue;
        keyframes.push_back(*pts);
        if (dts) delay = std::max(delay, *pts - *dts);
    }
    return {KeyframeIndex(std::move(keyframes)), delay};
}

bool TrimPlan::copyIsExact(double start, const KeyframeIndex& keyframes) {
    if (start <= tolerance) return true;
    if (keyframes.count() < 2) return true;
    return std::abs(start - keyframes.nearest(start)) <= tolerance;
}

bool TrimPlan::requiresReencode(double start, const KeyframeIndex& keyframes) { return !copyIsExact(start, keyframes); }

double TrimPlan::magnetised(double time, const KeyframeIndex& keyframes, double secondsPerPoint, double pullPoints) {
    if (keyframes.count() < 2 || !(secondsPerPoint > 0)) return time;
    const double keyframe = keyframes.nearest(time);
    return std::abs(time - keyframe) <= secondsPerPoint * pullPoints ? keyframe : time;
}

double TrimPlan::copyWouldStart(double time, const KeyframeIndex& keyframes) {
    if (keyframes.count() <= 1) return time;
    return keyframes.atOrBefore(time);
}

}  // namespace kolvex
