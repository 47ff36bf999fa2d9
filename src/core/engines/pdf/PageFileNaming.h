// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/format/ConversionJob.h"

namespace kolvex {

// Names of the files a multi-page output is spread over: the destination's stem, a hyphen and
// the page number zero-padded to the digits of the page count ("report-007.png" for page 7 of
// 120), with " 2" … " 999" added while a name is taken. Stateless; any thread.
struct PageFileNaming {
    // Decimal digits of `count` (1 for 0…9).
    static int digitCount(int count);

    // Page `page` (from 1) of `count` page images of `job`: the destination itself when there
    // is only one page. A name is taken when one of `existing` has it or a file is there.
    // Throws ConversionError::outputNameUnavailable naming the last candidate.
    static std::filesystem::path pageURL(const ConversionJob& job, int page, int count,
                                         const std::vector<std::filesystem::path>& existing);

    // Page `page` of `count` split from a document bound for `destination`: always ".pdf".
    static std::filesystem::path splitURL(const std::filesystem::path& destination, int page, int count);

private:
    static std::filesystem::path firstFree(const std::filesystem::path& destination, int page, int count,
                                           const std::string& extension,
                                           const std::vector<std::filesystem::path>& existing);
};

}  // namespace kolvex
