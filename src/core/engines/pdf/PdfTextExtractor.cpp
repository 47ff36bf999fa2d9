// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PdfTextExtractor.h"

#include <algorithm>

#include "core/engines/pdf/PopplerDocument.h"
#include "core/engines/pdf/QpdfDocument.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

bool isBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    });
}

}  // namespace

std::string PdfTextExtractor::extractTextContent(const ConversionJob& job, std::stop_token stop) {
    QpdfDocument::refuseTooDeep(job.source);
    PopplerDocument document = PopplerDocument::load(job.source);
    if (document.status() == PopplerDocument::Status::unreadable) throw ConversionError::corruptedInput(job.source);
    if (document.status() == PopplerDocument::Status::locked) throw ConversionError::passwordProtected(job.source);

    std::string text;
    const int count = document.pageCount();
    for (int index = 0; index < count; ++index) {
        throwIfStopRequested(stop);
        std::string page = document.pageText(index);
        if (page.empty()) continue;
        text += page;
        if (index + 1 < count) text += "\n\n";
    }
    if (isBlank(text)) {
        throw ConversionError::unsupportedCombination(job.from.label + " with no text layer", job.to.label);
    }
    return text;
}

}  // namespace kolvex
