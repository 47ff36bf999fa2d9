// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/format/FormatManifest.h"
#include "core/services/StrictJson.h"

namespace kolvex {
namespace {

const char* kValid = R"({
  "formats": [
    {"id": "png", "category": "image", "extensions": ["PNG", "png"], "contentTypes": ["image/png"],
     "capabilities": ["lossless", "alpha"], "label": "PNG", "extra": 1},
    {"id": "raw", "category": "image", "extensions": [], "contentTypes": [], "capabilities": [], "label": "Raw"}
  ],
  "conversions": [
    {"from": "png", "to": "raw", "engine": "image", "cost": "hardware", "passthroughPossible": false}
  ],
  "tools": [
    {"id": "merge", "label": "Merge", "categories": ["video", "audio"], "engine": "ffmpeg", "foldsInputs": true},
    {"id": "resize", "label": "Resize", "categories": [], "engine": "image", "foldsInputs": false, "outputFormat": null},
    {"id": "extract-audio", "label": "Extract Audio", "categories": ["video"], "engine": "ffmpeg",
     "foldsInputs": false, "outputFormat": "m4a"}
  ]
})";

TEST(FormatManifest, DecodesEveryFieldInOrder) {
    auto m = FormatManifest::decode(kValid);
    ASSERT_EQ(m.formats.size(), 2u);
    EXPECT_EQ(m.formats[0].id, FormatID("png"));
    EXPECT_EQ(m.formats[0].canonicalExtension(), "PNG");  // kept as written
    EXPECT_EQ(m.formats[1].canonicalExtension(), "raw");  // no extensions: the id
    EXPECT_TRUE(m.formats[0].has(FormatCapability::alpha));
    EXPECT_TRUE(m.formats[1].capabilities.empty());
    ASSERT_EQ(m.conversions.size(), 1u);
    EXPECT_EQ(m.conversions[0].cost, ConversionCost::hardware);
    ASSERT_EQ(m.tools.size(), 3u);
    EXPECT_TRUE(m.tools[0].foldsInputs);
    EXPECT_FALSE(m.tools[0].outputFormat);
    EXPECT_FALSE(m.tools[1].outputFormat);
    EXPECT_TRUE(m.tools[1].categories.empty());
    EXPECT_EQ(m.tools[2].outputFormat, FormatID("m4a"));
}

TEST(FormatManifest, EncodingRoundTrips) {
    auto m = FormatManifest::decode(kValid);
    auto again = FormatManifest::decodeDocument(m.encode());
    EXPECT_EQ(again.formats, m.formats);
    EXPECT_EQ(again.conversions, m.conversions);
    EXPECT_EQ(again.tools, m.tools);
    EXPECT_FALSE(m.encode()["tools"][0].contains("outputFormat"));
}

struct BadCase {
    const char* name;
    const char* path;   // JSON pointer to change
    const char* value;  // replacement JSON, or null to remove the key
    const char* mention;
};

TEST(FormatManifest, FailsAsAWholeNamingWhatIsWrong) {
    const BadCase cases[] = {
        {"missing key", "/formats/0/label", nullptr, "label"},
        {"number for id", "/formats/0/id", "3", "formats[0].id"},
        {"string for Boolean", "/conversions/0/passthroughPossible", "\"true\"", "passthroughPossible"},
        {"null for required", "/formats/1/category", "null", "category"},
        {"capitalised category", "/formats/0/category", "\"Image\"", "Image"},
        {"hyphenated cost", "/conversions/0/cost", "\"in-process\"", "in-process"},
        {"capitalised cost", "/conversions/0/cost", "\"Subprocess\"", "Subprocess"},
        {"unknown capability", "/formats/0/capabilities/0", "\"transparent\"", "transparent"},
        {"unknown tool category", "/tools/0/categories/0", "\"movie\"", "movie"},
        {"object for list", "/formats", "{}", "formats"},
        {"number in extensions", "/formats/0/extensions/0", "1", "extensions[0]"},
        {"number for outputFormat", "/tools/2/outputFormat", "7", "outputFormat"},
    };
    for (const auto& c : cases) {
        auto doc = nlohmann::json::parse(kValid);
        nlohmann::json::json_pointer ptr(c.path);
        if (c.value) {
            doc[ptr] = nlohmann::json::parse(c.value);
        } else {
            doc[ptr.parent_pointer()].erase(ptr.back());
        }
        try {
            FormatManifest::decodeDocument(doc);
            ADD_FAILURE() << c.name << ": decoded";
        } catch (const json::JsonError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mention), std::string::npos) << c.name << ": " << e.what();
        }
    }
}

TEST(FormatManifest, RejectsTextThatIsNotAManifest) {
    for (const char* text : {"", "not json", "[1,2]", "{\"formats\": []", "null"}) {
        EXPECT_THROW(FormatManifest::decode(text), json::JsonError) << text;
    }
}

TEST(ConversionCost, OrdersByRankNotDeclaration) {
    std::vector<ConversionCost> costs{ConversionCost::subprocess, ConversionCost::inProcess, ConversionCost::hardware};
    std::sort(costs.begin(), costs.end(), costLess);
    EXPECT_EQ(costs, (std::vector{ConversionCost::hardware, ConversionCost::inProcess, ConversionCost::subprocess}));
    EXPECT_FALSE(conversionCostFromString("Hardware"));
    EXPECT_EQ(formatCategoryFromString("pdf"), FormatCategory::pdf);
}

}  // namespace
}  // namespace kolvex
