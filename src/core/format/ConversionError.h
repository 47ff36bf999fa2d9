#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace kolvex {

// The one error a conversion failure carries to the user.
class ConversionError : public std::exception {
public:
    enum class Kind {
        unsupportedCodec,
        corruptedInput,
        insufficientPermissions,
        insufficientDiskSpace,
        backendFailure,
        unsupportedCombination,
        outputNameUnavailable,
        cancelled,
    };

    static ConversionError unsupportedCodec(std::string codec);
    static ConversionError corruptedInput(std::filesystem::path url);
    // `url` is the file that could not be written (or the locked input), never its folder.
    static ConversionError insufficientPermissions(std::filesystem::path url);
    static ConversionError insufficientDiskSpace(int64_t required, int64_t available);
    static ConversionError backendFailure(std::string engine, int32_t exitCode, std::string stderrText);
    static ConversionError unsupportedCombination(std::string from, std::string to);
    static ConversionError outputNameUnavailable(std::filesystem::path url);
    static ConversionError cancelled();

    Kind kind() const { return m_kind; }

    // Payload accessors; each is meaningful only for the cases that carry it.
    const std::string& codec() const { return m_text1; }
    const std::filesystem::path& url() const { return m_url; }
    int64_t required() const { return m_required; }
    int64_t available() const { return m_available; }
    const std::string& engine() const { return m_text1; }
    int32_t exitCode() const { return m_exitCode; }
    const std::string& stderrText() const { return m_text2; }
    const std::string& from() const { return m_text1; }
    const std::string& to() const { return m_text2; }

    // One line for the user.
    std::string shortDescription() const;
    // Technical detail shown beneath the message, when there is any.
    std::optional<std::string> diagnosticDetail() const;
    bool isRetryable() const;

    const char* what() const noexcept override { return m_what.c_str(); }
    bool operator==(const ConversionError& other) const;

private:
    explicit ConversionError(Kind kind) : m_kind(kind) {}
    ConversionError& finish();

    Kind m_kind;
    std::string m_text1;
    std::string m_text2;
    std::filesystem::path m_url;
    int64_t m_required = 0;
    int64_t m_available = 0;
    int32_t m_exitCode = 0;
    std::string m_what;
};

std::string toString(ConversionError::Kind kind);

}  // namespace kolvex
