// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeepPdf.h"

#include "PdfFixtures.h"

namespace kolvex::testing {

namespace {

std::string ref(int number) { return std::to_string(number) + " 0 R"; }

}  // namespace

std::vector<DeepStructure> everyDeepStructure() {
    return {DeepStructure::pageTree,   DeepStructure::outline,     DeepStructure::nameTree,
            DeepStructure::numberTree, DeepStructure::formFields,  DeepStructure::objectChain,
            DeepStructure::nestedArrays};
}

std::string nameOf(DeepStructure structure) {
    switch (structure) {
        case DeepStructure::pageTree: return "page tree";
        case DeepStructure::outline: return "outline";
        case DeepStructure::nameTree: return "name tree";
        case DeepStructure::numberTree: return "number tree";
        case DeepStructure::formFields: return "form field tree";
        case DeepStructure::objectChain: return "object chain";
        case DeepStructure::nestedArrays: return "nested arrays";
    }
    return "?";
}

std::string deepPdf(DeepStructure structure, int depth) {
    // 1 catalog, 2 page tree root, 3 and 4 the pages, 5 and 6 their contents, 7 the font; the
    // deep structure takes the numbers from 10.
    constexpr int first = 10;
    std::map<int, std::string> objects;
    std::string catalog = "/Type /Catalog /Pages 2 0 R";
    std::string pageExtra;
    int pagesParent = 2;
    const auto content = [](int page) {
        const std::string text = "1 0 0 rg 0 0 40 40 re f BT /F1 12 Tf 60 40 Td (Page " + std::to_string(page) + ") Tj ET";
        return "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream";
    };
    switch (structure) {
        case DeepStructure::pageTree: {
            // The root, then `depth` − 1 nodes each holding the next; the deepest holds the pages.
            objects[2] = "<< /Type /Pages /Kids [" + (depth > 1 ? ref(first) : "3 0 R 4 0 R") + "] /Count 2 >>";
            for (int level = 1; level < depth; ++level) {
                const int number = first + level - 1;
                const std::string kids = level + 1 < depth ? ref(number + 1) : "3 0 R 4 0 R";
                objects[number] = "<< /Type /Pages /Parent " + ref(level == 1 ? 2 : number - 1) + " /Kids [" + kids +
                                  "] /Count 2 >>";
                pagesParent = number;
            }
            break;
        }
        case DeepStructure::outline: {
            catalog += " /Outlines " + ref(first);
            objects[first] = "<< /Type /Outlines /First " + ref(first + 1) + " /Last " + ref(first + 1) + " /Count 1 >>";
            for (int level = 1; level < depth; ++level) {
                const int number = first + level;
                std::string item = "<< /Title (Level " + std::to_string(level) + ") /Parent " + ref(number - 1) +
                                   " /Dest [3 0 R /Fit]";
                if (level + 1 < depth) item += " /First " + ref(number + 1) + " /Last " + ref(number + 1) + " /Count 1";
                objects[number] = item + " >>";
            }
            break;
        }
        case DeepStructure::nameTree:
        case DeepStructure::numberTree: {
            const bool names = structure == DeepStructure::nameTree;
            catalog += names ? " /Names << /Dests " + ref(first) + " >>" : " /PageLabels " + ref(first);
            const std::string limits = names ? " /Limits [(a) (a)]" : " /Limits [0 0]";
            for (int level = 0; level < depth; ++level) {
                const int number = first + level;
                if (level + 1 < depth) {
                    objects[number] = "<< /Kids [" + ref(number + 1) + "]" + (level > 0 ? limits : "") + " >>";
                } else {
                    objects[number] = names ? "<< /Names [(a) [3 0 R /Fit]]" + limits + " >>"
                                            : "<< /Nums [0 << /S /D >>]" + limits + " >>";
                }
            }
            break;
        }
        case DeepStructure::formFields: {
            catalog += " /AcroForm << /Fields [" + ref(first) + "] /DA (/Helv 0 Tf 0 g) >>";
            for (int level = 0; level < depth; ++level) {
                const int number = first + level;
                std::string field = "<< /T (f" + std::to_string(level) + ")";
                if (level > 0) field += " /Parent " + ref(number - 1);
                if (level + 1 < depth) {
                    field += " /Kids [" + ref(number + 1) + "]";
                } else {
                    field += " /FT /Tx /V (deep) /Type /Annot /Subtype /Widget /Rect [100 60 190 90] /P 3 0 R";
                    pageExtra = " /Annots [" + ref(number) + "]";
                }
                objects[number] = field + " >>";
            }
            break;
        }
        case DeepStructure::objectChain: {
            // Off the catalog, where only a writer of the whole document goes, and off the
            // first page, where every copy of it goes.
            catalog += " /Chain " + ref(first);
            pageExtra = " /Chain " + ref(first);
            for (int level = 0; level < depth; ++level) {
                const int number = first + level;
                objects[number] = level + 1 < depth ? "<< /N " + ref(number + 1) + " >>" : "<< /N null >>";
            }
            break;
        }
        case DeepStructure::nestedArrays:
            pageExtra = " /Nested " + std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']');
            break;
    }
    objects[1] = "<< " + catalog + " >>";
    if (!objects.count(2)) objects[2] = "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>";
    const std::string resources = " /Resources << /Font << /F1 7 0 R >> >>";
    objects[3] = "<< /Type /Page /Parent " + ref(pagesParent) + " /MediaBox [0 0 200 100] /Contents 5 0 R" +
                 resources + pageExtra + " >>";
    objects[4] = "<< /Type /Page /Parent " + ref(pagesParent) + " /MediaBox [0 0 200 100] /Contents 6 0 R" +
                 resources + " >>";
    objects[5] = content(1);
    objects[6] = content(2);
    objects[7] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    return pdfOfObjects(objects);
}

}  // namespace kolvex::testing
