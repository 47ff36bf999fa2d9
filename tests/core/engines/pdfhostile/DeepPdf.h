// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kolvex::testing {

// The structures of a PDF that readers walk level by level.
enum class DeepStructure { pageTree, outline, nameTree, numberTree, formFields, objectChain, nestedArrays };

std::vector<DeepStructure> everyDeepStructure();
std::string nameOf(DeepStructure structure);

// A two-page PDF, each page with a red square and its number as text, in which `structure` is
// `depth` levels deep. Written by hand with a true cross-reference table, as a writer that means
// harm would.
std::string deepPdf(DeepStructure structure, int depth);

}  // namespace kolvex::testing
