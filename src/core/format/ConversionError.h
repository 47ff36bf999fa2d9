// SPDX-License-Identifier: GPL-3.0-or-later
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

    // Which circumstance a case stands for, where one case covers several the user must tell
    // apart; it only refines the text. `general` is the case's plain meaning.
    enum class Circumstance {
        general,
        // corruptedInput: the file is missing or cannot be opened, rather than damaged.
        unreadable,
        // corruptedInput: the file is encrypted and no password can be given.
        passwordProtected,
        // corruptedInput: the image or page is larger than is safe to decode.
        tooLarge,
        // corruptedInput: an archive entry would land outside its folder, and was refused.
        unsafeEntry,
        // corruptedInput: two archive entries would be unpacked under one name, and were refused.
        clashingEntries,
        // corruptedInput: the file is sound but goes past a limit of the system or of ours, named.
        beyondLimit,
        // insufficientPermissions: the folder the output was going to is gone.
        folderMissing,
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
    // corruptedInput of a source that is missing or cannot be opened.
    static ConversionError unreadableInput(std::filesystem::path url);
    // corruptedInput of an encrypted source (PDF, ZIP, 7-Zip…).
    static ConversionError passwordProtected(std::filesystem::path url);
    // corruptedInput of a source too large to decode safely.
    static ConversionError inputTooLarge(std::filesystem::path url);
    // corruptedInput of an archive holding an entry that would be written outside its folder.
    static ConversionError unsafeArchiveEntry(std::filesystem::path url);
    // corruptedInput of an archive holding two entries that would be unpacked as `entry`.
    static ConversionError clashingArchiveEntries(std::filesystem::path url, std::string entry);
    // corruptedInput of a sound file that goes past a limit; `what` names it and follows the
    // file's name ("holds a path longer than the system allows (4,095 bytes)").
    static ConversionError beyondLimit(std::filesystem::path url, std::string what);
    // beyondLimit of a file whose `structure` ("page tree", "outline"…) nests more than `limit`
    // levels deep, refused rather than walked.
    static ConversionError nestedTooDeeply(std::filesystem::path url, const std::string& structure, int64_t limit);
    // beyondLimit of a source at a path longer than the system lets a program open.
    static ConversionError sourcePathTooLong(std::filesystem::path url);
    // beyondLimit of an output (`url`) the system cannot hold: its name, or its path or that of
    // the hidden name it is written under until complete, is longer than the system allows.
    static ConversionError outputPathTooLong(std::filesystem::path url);
    // insufficientPermissions of an output whose folder no longer exists; `url` is the output.
    static ConversionError outputFolderMissing(std::filesystem::path url);

    Kind kind() const { return m_kind; }
    Circumstance circumstance() const { return m_circumstance; }

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
    static ConversionError withCircumstance(ConversionError error, Circumstance circumstance);

    Kind m_kind;
    Circumstance m_circumstance = Circumstance::general;
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
