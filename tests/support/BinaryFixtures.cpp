// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/BinaryFixtures.h"

namespace kolvex::testing {

uint32_t crc32(std::string_view bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string bigEndian32(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

std::string pdfFromObjects(const std::vector<std::string>& objects) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const auto offset : offsets) {
        const std::string number = std::to_string(offset);
        pdf += std::string(10 - number.size(), '0') + number + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string iconFile(const std::vector<IconEntry>& entries) {
    const auto littleEndian = [](uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
        return out;
    };
    // ICONDIR: reserved, type 1 (icon), count; then one 16-byte ICONDIRENTRY per picture.
    std::string directory = littleEndian(0, 2) + littleEndian(1, 2) + littleEndian(static_cast<uint32_t>(entries.size()), 2);
    std::string images;
    size_t offset = 6 + 16 * entries.size();
    for (const IconEntry& entry : entries) {
        const char side = static_cast<char>(entry.side >= 256 ? 0 : entry.side);  // 0 means 256
        directory += std::string{side, side, '\0', '\0'} + littleEndian(1, 2) + littleEndian(32, 2) +
                     littleEndian(static_cast<uint32_t>(entry.png.size()), 4) + littleEndian(static_cast<uint32_t>(offset), 4);
        images += entry.png;
        offset += entry.png.size();
    }
    return directory + images;
}

}  // namespace kolvex::testing
