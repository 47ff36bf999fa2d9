// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <hb-ot.h>
#include <hb.h>

#include <QByteArray>

#include "core/engines/document/ScriptListedFont.h"
#include "support/ExternalTool.h"

// Copies of installed faces of every kind the copy treats differently: without a GSUB, with a
// GSUB and a default script, with a GSUB and no default script, and a face of a collection. Each
// copy must be a sound font file (sorted directory, checksums, every other table unchanged)
// whose GSUB lists the new script (with the default script's features, or none) beside every
// script it listed before, unchanged, and whose names are the original's.

namespace kolvex {
namespace {

using Blob = std::unique_ptr<hb_blob_t, decltype(&hb_blob_destroy)>;
using Face = std::unique_ptr<hb_face_t, decltype(&hb_face_destroy)>;

struct Row {
    std::string kind;
    std::string file;
    unsigned index = 0;
};

Face faceOf(hb_blob_t* blob, unsigned index) { return Face(hb_face_create(blob, index), &hb_face_destroy); }

QByteArray table(hb_face_t* face, hb_tag_t tag) {
    const Blob blob(hb_face_reference_table(face, tag), &hb_blob_destroy);
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    return QByteArray(data, static_cast<qsizetype>(length));
}

std::vector<hb_tag_t> scripts(hb_face_t* face) {
    unsigned count = 64;
    hb_tag_t tags[64];
    hb_ot_layout_table_get_script_tags(face, HB_OT_TAG_GSUB, 0, &count, tags);
    return {tags, tags + count};
}

std::vector<unsigned> defaultFeatures(hb_face_t* face, hb_tag_t script) {
    unsigned index = 0;
    if (!hb_ot_layout_table_find_script(face, HB_OT_TAG_GSUB, script, &index)) return {};
    unsigned features[256];
    unsigned count = 256;
    hb_ot_layout_language_get_feature_indexes(face, HB_OT_TAG_GSUB, index, HB_OT_LAYOUT_DEFAULT_LANGUAGE_INDEX, 0, &count, features);
    return {features, features + count};
}

std::string family(hb_face_t* face) {
    char text[256];
    unsigned length = sizeof text;
    hb_ot_name_get_utf8(face, HB_OT_NAME_ID_FONT_FAMILY, hb_language_from_string("en", -1), &length, text);
    return text;
}

// One regular face of each kind, from the installed fonts.
std::vector<Row> rows() {
    const auto listing = testing::programOutput("/usr/bin/fc-list", {"--format", "%{file}\t%{index}\t%{style[0]}\n"});
    if (!listing) return {};
    std::vector<std::string> lines;
    std::istringstream in(*listing);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::map<std::string, Row> kinds;
    for (const std::string& line : lines) {
        std::istringstream cells(line);
        std::string file, index, style;
        std::getline(cells, file, '\t');
        std::getline(cells, index, '\t');
        std::getline(cells, style, '\t');
        if (style != "Regular") continue;
        const Blob blob(hb_blob_create_from_file_or_fail(file.c_str()), &hb_blob_destroy);
        if (!blob) continue;
        const Face face = faceOf(blob.get(), static_cast<unsigned>(std::stoul(index)));
        if (table(face.get(), HB_TAG('h', 'e', 'a', 'd')).isEmpty()) continue;  // not an OpenType or TrueType font
        const std::vector<hb_tag_t> listed = scripts(face.get());
        std::string kind = table(face.get(), HB_OT_TAG_GSUB).isEmpty() ? "no GSUB"
                           : std::count(listed.begin(), listed.end(), HB_TAG('D', 'F', 'L', 'T')) ? "GSUB with DFLT"
                                                                                                  : "GSUB without DFLT";
        if (std::stoul(index) > 0) kind = "face of a collection";
        kinds.emplace(kind, Row{kind, file, static_cast<unsigned>(std::stoul(index))});
    }
    std::vector<Row> out;
    for (auto& [kind, row] : kinds) out.push_back(row);
    return out;
}

uint32_t be32(const QByteArray& data, qsizetype at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(at + i < data.size() ? data[at + i] : 0);
    return value;
}

uint32_t checksum(const QByteArray& data, qsizetype from, qsizetype length) {
    uint32_t sum = 0;
    for (qsizetype at = from; at < from + length; at += 4) sum += be32(data, at);
    return sum;
}

TEST(ScriptListedFont, CopiesEveryKindOfFaceSoundlyWithTheScriptListed) {
    const std::vector<Row> table_rows = rows();
    if (table_rows.empty()) GTEST_SKIP() << "fontconfig lists no fonts";
    for (const Row& row : table_rows) {
        SCOPED_TRACE(row.kind + ": " + row.file + " #" + std::to_string(row.index));
        const Blob blob(hb_blob_create_from_file_or_fail(row.file.c_str()), &hb_blob_destroy);
        const Face original = faceOf(blob.get(), row.index);
        const std::vector<hb_tag_t> before = scripts(original.get());
        hb_tag_t added = 0;
        for (const hb_tag_t candidate : {HB_TAG('t', 'h', 'a', 'a'), HB_TAG('n', 'k', 'o', ' '), HB_TAG('s', 'y', 'r', 'c')})
            if (std::find(before.begin(), before.end(), candidate) == before.end()) added = candidate;
        ASSERT_NE(added, 0u);

        const QByteArray copy = ScriptListedFont::fromFile(row.file, row.index, {added});
        ASSERT_FALSE(copy.isEmpty());

        // The file: a sorted directory of 4-byte aligned tables whose checksums hold, and the
        // whole file's adjustment in head.
        const uint32_t tables = be32(copy, 4) >> 16;
        uint32_t previous = 0;
        for (uint32_t i = 0; i < tables; ++i) {
            const qsizetype record = 12 + 16 * i;
            const uint32_t tag = be32(copy, record);
            const uint32_t offset = be32(copy, record + 8);
            const uint32_t length = be32(copy, record + 12);
            EXPECT_GT(tag, previous);
            previous = tag;
            EXPECT_EQ(offset % 4, 0u);
            ASSERT_LE(offset + length, static_cast<uint32_t>(copy.size()));
            QByteArray data = copy.mid(offset, length);
            if (tag == HB_TAG('h', 'e', 'a', 'd')) data.replace(8, 4, QByteArray(4, '\0'));
            EXPECT_EQ(checksum(data, 0, data.size()), be32(copy, record + 4)) << "table " << std::string(copy.constData() + record, 4);
        }
        EXPECT_EQ(checksum(copy, 0, copy.size()), 0xB1B0AFBAu);

        const Blob copied(hb_blob_create(copy.constData(), static_cast<unsigned>(copy.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr),
                          &hb_blob_destroy);
        const Face listed = faceOf(copied.get(), 0);
        EXPECT_TRUE(hb_ot_layout_table_select_script(listed.get(), HB_OT_TAG_GSUB, 1, &added, nullptr, nullptr));
        for (const hb_tag_t script : before) EXPECT_EQ(defaultFeatures(listed.get(), script), defaultFeatures(original.get(), script));
        EXPECT_EQ(defaultFeatures(listed.get(), added), defaultFeatures(original.get(), HB_TAG('D', 'F', 'L', 'T')));
        EXPECT_EQ(scripts(listed.get()).size(), before.size() + 1);
        EXPECT_EQ(family(listed.get()), family(original.get()));
        for (const hb_tag_t tag : {HB_TAG('g', 'l', 'y', 'f'), HB_TAG('C', 'F', 'F', ' '), HB_TAG('c', 'm', 'a', 'p'), HB_TAG('G', 'P', 'O', 'S'),
                                   HB_TAG('h', 'm', 't', 'x'), HB_TAG('n', 'a', 'm', 'e')})
            EXPECT_EQ(table(listed.get(), tag), table(original.get(), tag));
    }
}

}  // namespace
}  // namespace kolvex
