// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/TiffExif.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

namespace kolvex::image {

namespace {

constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kGpsPointer = 0x8825;
constexpr uint16_t kInteroperabilityPointer = 0xA005;
// Descriptive tags of an EXIF block's first directory that belong in a TIFF's first directory.
const std::set<uint16_t> kDescriptive{0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x8298};

// Bytes per value of each TIFF field type, and the unit whose bytes turn with the byte order.
int typeSize(uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: case 13: return 4;
        case 5: case 10: case 12: return 8;
        default: return 0;
    }
}
int swapUnit(uint16_t type) { return type == 5 || type == 10 ? 4 : typeSize(type); }

// A TIFF structure in one byte order.
class Reader {
public:
    Reader(std::string_view bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}

    bool fits(size_t offset, size_t length) const { return offset <= m_bytes.size() && length <= m_bytes.size() - offset; }
    uint16_t u16(size_t at) const {
        const auto b = [&](size_t i) { return static_cast<uint16_t>(static_cast<unsigned char>(m_bytes[at + i])); };
        return m_big ? static_cast<uint16_t>(b(0) << 8 | b(1)) : static_cast<uint16_t>(b(1) << 8 | b(0));
    }
    uint32_t u32(size_t at) const {
        const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(m_bytes[at + i])); };
        return m_big ? b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3) : b(3) << 24 | b(2) << 16 | b(1) << 8 | b(0);
    }
    std::string_view bytes() const { return m_bytes; }
    bool bigEndian() const { return m_big; }

private:
    std::string_view m_bytes;
    bool m_big;
};

std::optional<Reader> readerFor(std::string_view tiff) {
    if (tiff.size() < 8) return std::nullopt;
    const bool big = tiff.substr(0, 2) == "MM";
    if (!big && tiff.substr(0, 2) != "II") return std::nullopt;
    Reader reader(tiff, big);
    if (reader.u16(2) != 42) return std::nullopt;
    return reader;
}

// One field with its value in the output's byte order.
struct Field {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::string value;
};

// The field with its value in the other byte order when `from` and `to` differ.
Field inOrder(Field field, bool from, bool to) {
    if (from == to) return field;
    const size_t unit = static_cast<size_t>(swapUnit(field.type));
    for (size_t v = 0; unit > 1 && v + unit <= field.value.size(); v += unit) {
        std::reverse(field.value.begin() + static_cast<std::ptrdiff_t>(v),
                     field.value.begin() + static_cast<std::ptrdiff_t>(v + unit));
    }
    return field;
}

// The fields of the directory at `offset`, values in the reader's byte order; none when the
// directory runs off the data. Fields of unknown types or whose values run off are left out.
std::optional<std::vector<Field>> readDirectory(const Reader& in, size_t offset) {
    if (!in.fits(offset, 2)) return std::nullopt;
    const size_t count = in.u16(offset);
    if (!in.fits(offset + 2, count * 12)) return std::nullopt;
    std::vector<Field> fields;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = offset + 2 + 12 * i;
        Field field{in.u16(at), in.u16(at + 2), in.u32(at + 4), {}};
        const int size = typeSize(field.type);
        if (size == 0 || field.count > (1u << 24)) continue;  // unknown type, absurd count
        const size_t length = static_cast<size_t>(field.count) * static_cast<size_t>(size);
        const size_t from = length <= 4 ? at + 8 : in.u32(at + 8);
        if (!in.fits(from, length)) continue;
        field.value = std::string(in.bytes().substr(from, length));
        fields.push_back(std::move(field));
    }
    return fields;
}

class Writer {
public:
    Writer(std::string bytes, bool bigEndian) : m_out(std::move(bytes)), m_big(bigEndian) {}

    void u16(std::string& to, uint16_t v) const {
        const char hi = static_cast<char>(v >> 8), lo = static_cast<char>(v & 0xFF);
        to += m_big ? hi : lo;
        to += m_big ? lo : hi;
    }
    void u32(std::string& to, uint32_t v) const {
        for (int i = 0; i < 4; ++i) to += static_cast<char>(v >> (m_big ? 24 - 8 * i : 8 * i));
    }
    std::string u32(uint32_t v) const {
        std::string s;
        u32(s, v);
        return s;
    }
    void align() {
        if (m_out.size() % 2) m_out += '\0';
    }
    // Appends a field's value when it does not fit in its entry; returns the 12-byte entry.
    std::string entry(const Field& field) {
        std::string record;
        u16(record, field.tag);
        u16(record, field.type);
        u32(record, field.count);
        if (field.value.size() <= 4) {
            record += field.value;
            record.append(4 - field.value.size(), '\0');
        } else {
            align();
            u32(record, static_cast<uint32_t>(m_out.size()));
            m_out += field.value;
        }
        return record;
    }
    // Appends a directory of these 12-byte entries (sorted by tag) and returns its offset.
    uint32_t directory(std::vector<std::string> records, uint32_t next) {
        std::sort(records.begin(), records.end(), [&](const std::string& a, const std::string& b) {
            return tagOf(a) < tagOf(b);
        });
        align();
        const auto offset = static_cast<uint32_t>(m_out.size());
        u16(m_out, static_cast<uint16_t>(records.size()));
        for (const auto& record : records) m_out += record;
        u32(m_out, next);
        return offset;
    }
    uint16_t tagOf(const std::string& record) const {
        const auto b = [&](size_t i) { return static_cast<uint16_t>(static_cast<unsigned char>(record[i])); };
        return m_big ? static_cast<uint16_t>(b(0) << 8 | b(1)) : static_cast<uint16_t>(b(1) << 8 | b(0));
    }
    std::string& bytes() { return m_out; }

private:
    std::string m_out;
    bool m_big;
};

}  // namespace

std::optional<std::string> TiffExif::embed(std::string_view tiff, std::string_view exif) {
    if (exif.substr(0, 6) == std::string_view("Exif\0\0", 6)) exif.remove_prefix(6);
    const auto target = readerFor(tiff);
    const auto source = readerFor(exif);
    if (!target || !source || tiff.size() > 0xF0000000u) return std::nullopt;
    const bool big = target->bigEndian();

    const bool from = source->bigEndian();
    const auto first = readDirectory(*source, source->u32(4));
    const size_t tiffFirst = target->u32(4);
    if (!first || !target->fits(tiffFirst, 2)) return std::nullopt;
    const size_t tiffCount = target->u16(tiffFirst);
    if (!target->fits(tiffFirst + 2, tiffCount * 12 + 4)) return std::nullopt;

    Writer out(std::string(tiff), big);
    std::vector<std::string> records;
    std::set<uint16_t> present;
    for (size_t i = 0; i < tiffCount; ++i) {
        // The file's own entries stay as they are: their values have not moved.
        const size_t at = tiffFirst + 2 + 12 * i;
        records.emplace_back(tiff.substr(at, 12));
        present.insert(target->u16(at));
    }
    if (present.contains(kExifPointer) || present.contains(kGpsPointer)) return std::nullopt;

    for (const Field& field : *first) {
        if ((field.tag == kExifPointer || field.tag == kGpsPointer) && field.value.size() == 4) {
            auto fields = readDirectory(*source, Reader(field.value, from).u32(0));
            if (!fields) continue;
            std::vector<std::string> inner;
            for (const Field& f : *fields) {
                // Its own pointer would point into the old block: interoperability data go.
                if (f.tag != kInteroperabilityPointer) inner.push_back(out.entry(inOrder(f, from, big)));
            }
            const uint32_t where = out.directory(std::move(inner), 0);
            records.push_back(out.entry(Field{field.tag, 4, 1, out.u32(where)}));
        } else if (kDescriptive.contains(field.tag) && !present.contains(field.tag)) {
            records.push_back(out.entry(inOrder(field, from, big)));
        }
    }
    const uint32_t next = target->u32(tiffFirst + 2 + tiffCount * 12);
    const uint32_t newFirst = out.directory(std::move(records), next);
    std::string& bytes = out.bytes();
    const std::string pointer = out.u32(newFirst);
    bytes.replace(4, 4, pointer);
    return bytes;
}

}  // namespace kolvex::image
