// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/format/ConversionOptions.h"

namespace kolvex {

// What a tool sheet is told about a multi-file batch. A plain value; GUI thread.
struct BatchPrompt {
    int count = 1;                          // files in the batch (during a walk: the walk's count)
    std::optional<std::string> position;    // "File 2 of 5" while the sheet asks for one file of a walk
    bool offersIndividual = false;          // the sheet may offer "Set each file individually"
    std::string advanceLabel;               // the confirm button's title while a walk step
    bool startsImmediately = true;          // "Start converting as I go" as the walk last had it

    bool isBatch() const { return count > 1; }
    bool operator==(const BatchPrompt&) const = default;
};

// What the user chose in a sheet about the batch. A plain value.
struct BatchChoice {
    bool setEachIndividually = false;
    bool startsImmediately = true;

    bool operator==(const BatchChoice&) const = default;
};

// The confirm-button title of a sheet that takes an optional prompt, with the tool's word
// ("Compress", "Resize"): the word alone for one file, the walk's label during a walk, "Next"
// when the files are to be set one by one, else "Resize 4 files".
std::string advanceTitle(const std::string& word, const std::optional<BatchPrompt>& prompt, const BatchChoice& choice);

// Whether a sheet shows the batch checkbox row.
bool showsBatchOptions(const std::optional<BatchPrompt>& prompt);

// The walk over the dropped files one sheet at a time, collecting one set of options per file.
// It only moves forward: each accept() advances by one file until every file is set.
// A plain value, copied freely; GUI thread.
class BatchParameterRun {
public:
    using Pair = std::pair<std::filesystem::path, ConversionOptions>;

    BatchParameterRun(std::vector<std::filesystem::path> urls, bool startsImmediately);

    const std::vector<std::filesystem::path>& urls() const { return m_urls; }
    size_t index() const { return m_index; }
    const std::vector<Pair>& collected() const { return m_collected; }
    // Whether the next accepted file starts at once: the latest "Start converting as I go".
    bool startsImmediately() const { return m_startsImmediately; }
    void setStartsImmediately(bool value) { m_startsImmediately = value; }

    // The file whose settings are asked next; none once the walk is over.
    std::optional<std::filesystem::path> current() const;
    bool isLast() const;
    bool isComplete() const;
    // "File k of n"; k stays n after the last file.
    std::string position() const;
    // `finish` on the last file, "Next" otherwise (also once the walk is over).
    std::string advanceLabel(const std::string& finish) const;

    // Records the options of the current file and moves on. Returns the pair when the file is
    // to start at once (decided now, for this file, and remembered with it); none otherwise,
    // and none (changing nothing) once the walk is over.
    std::optional<Pair> accept(const ConversionOptions& options);
    // Moves past the current file without settings: it is not converted (the user's answer
    // skips it), so it is neither started nor pending. Nothing once the walk is over.
    void skip();
    // The files moved past without settings, in walk order.
    const std::vector<std::filesystem::path>& skipped() const { return m_skipped; }

    // The pairs still to convert at the end: those not started when they were accepted.
    std::vector<Pair> pending() const;
    // The files already handed back to be started.
    std::vector<std::filesystem::path> alreadyStarted() const;

    // Compares files, step and flag, and the collected and skipped files in order, not the
    // collected options.
    bool operator==(const BatchParameterRun& other) const;

private:
    std::vector<std::filesystem::path> m_urls;
    size_t m_index = 0;
    std::vector<Pair> m_collected;
    std::vector<bool> m_started;  // per collected pair: handed back to start when accepted
    std::vector<std::filesystem::path> m_skipped;
    bool m_startsImmediately;
};

}  // namespace kolvex
