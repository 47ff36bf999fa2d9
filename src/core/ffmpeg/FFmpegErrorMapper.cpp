#include "core/ffmpeg/FFmpegErrorMapper.h"

#include <filesystem>

#include <sys/statvfs.h>

#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

bool contains(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }

}  // namespace

std::optional<std::string> FFmpegErrorMapper::extract(const std::string& marker, const std::string& text) {
    const std::string lowered = paths::asciiLower(text);
    const size_t at = lowered.find(paths::asciiLower(marker));
    if (at == std::string::npos) return std::nullopt;
    const std::string rest = text.substr(at + marker.size());
    static constexpr const char* kSeparators = " '\"\n";
    const size_t start = rest.find_first_not_of(kSeparators);
    if (start == std::string::npos) return std::nullopt;
    const size_t end = rest.find_first_of(kSeparators, start);
    return rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

FFmpegErrorMapper::DiskFigures FFmpegErrorMapper::measure(const ConversionJob& job) {
    DiskFigures figures;
    std::error_code error;
    const auto size = fs::file_size(job.source, error);
    if (!error) figures.required = static_cast<int64_t>(size);
    struct statvfs info {};
    if (::statvfs(paths::deletingLastComponent(job.destination).c_str(), &info) == 0)
        figures.available = static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
    return figures;
}

ConversionError FFmpegErrorMapper::map(int32_t exitCode, const std::string& stderrText, const ConversionJob& job,
                                       std::optional<DiskFigures> figures) {
    const std::string s = paths::asciiLower(stderrText);
    if (contains(s, "invalid data found")) return ConversionError::corruptedInput(job.source);
    if (contains(s, "moov atom not found")) return ConversionError::corruptedInput(job.source);
    if (contains(s, "permission denied")) return ConversionError::insufficientPermissions(job.destination);
    if (contains(s, "no space left")) {
        // Real figures rather than "Needs Zero KB, only Zero KB free".
        const DiskFigures known = figures ? *figures : measure(job);
        return ConversionError::insufficientDiskSpace(known.required, known.available);
    }
    if (contains(s, "unknown encoder"))
        return ConversionError::unsupportedCodec(extract("unknown encoder", stderrText).value_or(job.to.label));
    if (contains(s, "encoder not found")) return ConversionError::unsupportedCodec(job.to.label);
    if (contains(s, "decoder") && contains(s, "not found")) {
        // "Decoder (codec av1) not found for input stream": the codec is the word after "(codec ".
        if (auto name = extract("(codec ", stderrText)) {
            while (!name->empty() && name->back() == ')') name->pop_back();
            if (!name->empty()) return ConversionError::unsupportedCodec(*name);
        }
        // "Decoder not found" names no codec at all.
        auto name = extract("decoder", stderrText);
        if (name && paths::asciiLower(*name) == "not") name.reset();
        return ConversionError::unsupportedCodec(name.value_or("this codec"));
    }
    if (contains(s, "could not find codec parameters")) return ConversionError::corruptedInput(job.source);
    if (contains(s, "does not contain any stream")) return ConversionError::corruptedInput(job.source);
    if (contains(s, "could not write header")) return ConversionError::unsupportedCombination(job.from.label, job.to.label);
    return ConversionError::backendFailure("ffmpeg", exitCode, stderrText);
}

}  // namespace kolvex
