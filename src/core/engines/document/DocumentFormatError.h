// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace kolvex {

// A source document that a reader cannot make sense of (not the format it claims, damaged, or
// beyond the reader's limits). The document engine reports it as corruptedInput of the source.
class DocumentFormatError : public std::runtime_error {
public:
    explicit DocumentFormatError(const std::string& what) : std::runtime_error(what) {}
};

// A source nested deeper than a reader goes (elements in elements, groups in groups): sound,
// perhaps, but past a limit, which `what()` names after the file's name ("nests its elements
// deeper than Kolvex reads (512 levels)"). The engine reports it as beyondLimit of the source.
class DocumentDepthError : public DocumentFormatError {
public:
    explicit DocumentDepthError(const std::string& what) : DocumentFormatError(what) {}
};

// A source that is valid but larger than a stated bound. `what()` names it the way the user sees
// it in "Can't convert <what> to <target>" (the engine reports unsupportedCombination).
class DocumentLimitError : public std::runtime_error {
public:
    explicit DocumentLimitError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace kolvex
