// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/ScriptListedFont.h"

#include <algorithm>
#include <memory>
#include <optional>

#include <hb.h>

namespace kolvex {

namespace {

constexpr uint32_t tag(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8 | static_cast<uint8_t>(d);
}

std::optional<uint32_t> read(const QByteArray& data, qsizetype at, int bytes) {
    if (at < 0 || at + bytes > data.size()) return std::nullopt;
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | static_cast<uint8_t>(data[at + i]);
    return value;
}

void put(QByteArray& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.append(static_cast<char>(value >> (8 * i) & 0xFF));
}

// A script table whose default language system has no features (10 bytes).
void putEmptyScript(QByteArray& out) {
    put(out, 4, 2);       // default LangSys, right after this table's own 4 bytes
    put(out, 0, 2);       // no other language systems
    put(out, 0, 2);       // LangSys: lookup order (reserved)
    put(out, 0xFFFF, 2);  // no required feature
    put(out, 0, 2);       // no features
}

// A GSUB of its own for a font without one: every tag points at one empty script; no features,
// no lookups.
QByteArray newGsub(std::vector<uint32_t> tags) {
    std::sort(tags.begin(), tags.end());
    const auto count = static_cast<uint32_t>(tags.size());
    const uint32_t scriptList = 10;
    const uint32_t scriptTable = 2 + 6 * count;  // from the script list
    const uint32_t featureList = scriptList + scriptTable + 10;
    QByteArray out;
    put(out, 1, 2);
    put(out, 0, 2);
    put(out, scriptList, 2);
    put(out, featureList, 2);
    put(out, featureList + 2, 2);
    put(out, count, 2);
    for (const uint32_t t : tags) {
        put(out, t, 4);
        put(out, scriptTable, 2);
    }
    putEmptyScript(out);
    put(out, 0, 2);  // feature list
    put(out, 0, 2);  // lookup list
    return out;
}

}  // namespace

std::vector<uint32_t> ScriptListedFont::scriptTags(const QByteArray& gsub) {
    std::vector<uint32_t> tags;
    const auto list = read(gsub, 4, 2);
    const auto count = list ? read(gsub, *list, 2) : std::nullopt;
    if (!count) return tags;
    for (uint32_t i = 0; i < *count; ++i)
        if (const auto t = read(gsub, *list + 2 + 6 * i, 4)) tags.push_back(*t);
    return tags;
}

QByteArray ScriptListedFont::listScripts(const QByteArray& gsub, const std::vector<uint32_t>& tags) {
    if (gsub.isEmpty()) return newGsub(tags);
    const auto minor = read(gsub, 2, 2);
    const auto list = read(gsub, 4, 2);
    const auto features = read(gsub, 6, 2);
    const auto lookups = read(gsub, 8, 2);
    if (!minor || !list || !features || !lookups) return {};
    const uint32_t headerSize = *minor >= 1 ? 14 : 10;
    const auto variations = *minor >= 1 ? read(gsub, 10, 4) : std::optional<uint32_t>(0);
    const auto count = read(gsub, *list, 2);
    if (!variations || !count || *list < headerSize) return {};

    struct Record {
        uint32_t tag;
        std::optional<uint32_t> at;  // from the start of the table; none: the empty script
    };
    std::vector<Record> records;
    std::optional<uint32_t> fallback;
    for (uint32_t i = 0; i < *count; ++i) {
        const auto t = read(gsub, *list + 2 + 6 * i, 4);
        const auto offset = read(gsub, *list + 6 + 6 * i, 2);
        if (!t || !offset) return {};
        records.push_back({*t, *list + *offset});
        if (*t == tag('D', 'F', 'L', 'T')) fallback = *list + *offset;
    }
    for (const uint32_t t : tags)
        if (std::none_of(records.begin(), records.end(), [t](const Record& r) { return r.tag == t; })) records.push_back({t, fallback});
    if (records.size() == *count) return gsub;
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.tag < b.tag; });

    // The new script list goes right after the header, the old table after it (its script list
    // left unused): every old offset moves by the new list's size.
    const bool emptyScript = !fallback;
    const auto listSize = static_cast<uint32_t>(2 + 6 * records.size() + (emptyScript ? 10 : 0));
    const uint32_t shift = listSize;
    const auto moved = [shift](uint32_t at) { return at == 0 ? 0 : at + shift; };
    if (moved(*features) > 0xFFFF || moved(*lookups) > 0xFFFF) return {};
    QByteArray out;
    put(out, 1, 2);
    put(out, *minor, 2);
    put(out, headerSize, 2);
    put(out, moved(*features), 2);
    put(out, moved(*lookups), 2);
    if (headerSize == 14) put(out, moved(*variations), 4);
    put(out, static_cast<uint32_t>(records.size()), 2);
    for (const Record& r : records) {
        const uint32_t offset = r.at ? *r.at + shift - headerSize : static_cast<uint32_t>(2 + 6 * records.size());
        if (offset > 0xFFFF) return {};
        put(out, r.tag, 4);
        put(out, offset, 2);
    }
    if (emptyScript) putEmptyScript(out);
    out.append(gsub.mid(headerSize));
    return out;
}

QByteArray ScriptListedFont::fromFile(const std::string& file, unsigned index, const std::vector<uint32_t>& tags) {
    const std::unique_ptr<hb_blob_t, decltype(&hb_blob_destroy)> blob(hb_blob_create_from_file_or_fail(file.c_str()), &hb_blob_destroy);
    if (!blob) return {};
    const std::unique_ptr<hb_face_t, decltype(&hb_face_destroy)> face(hb_face_create(blob.get(), index), &hb_face_destroy);
    const auto table = [&face](uint32_t t) {
        const std::unique_ptr<hb_blob_t, decltype(&hb_blob_destroy)> data(hb_face_reference_table(face.get(), t), &hb_blob_destroy);
        unsigned length = 0;
        const char* bytes = hb_blob_get_data(data.get(), &length);
        return QByteArray(bytes, static_cast<qsizetype>(length));
    };
    const QByteArray gsub = listScripts(table(tag('G', 'S', 'U', 'B')), tags);
    if (gsub.isEmpty() || table(tag('h', 'e', 'a', 'd')).isEmpty()) return {};

    const std::unique_ptr<hb_face_t, decltype(&hb_face_destroy)> builder(hb_face_builder_create(), &hb_face_destroy);
    const auto add = [&builder](uint32_t t, const QByteArray& data) {
        hb_blob_t* copy = hb_blob_create(data.constData(), static_cast<unsigned>(data.size()), HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr);
        hb_face_builder_add_table(builder.get(), t, copy);
        hb_blob_destroy(copy);
    };
    hb_tag_t tables[64];
    unsigned found = 0;
    for (unsigned start = 0;; start += found) {
        found = std::size(tables);
        hb_face_get_table_tags(face.get(), start, &found, tables);
        if (found == 0) break;
        for (unsigned i = 0; i < found; ++i) {
            const uint32_t t = tables[i];
            if (t == tag('G', 'S', 'U', 'B') || t == tag('D', 'S', 'I', 'G')) continue;
            add(t, table(t));
        }
    }
    add(tag('G', 'S', 'U', 'B'), gsub);
    const std::unique_ptr<hb_blob_t, decltype(&hb_blob_destroy)> built(hb_face_reference_blob(builder.get()), &hb_blob_destroy);
    unsigned length = 0;
    const char* bytes = hb_blob_get_data(built.get(), &length);
    return QByteArray(bytes, static_cast<qsizetype>(length));
}

}  // namespace kolvex
