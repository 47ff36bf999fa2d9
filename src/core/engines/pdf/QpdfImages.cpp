// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/QpdfImages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "core/engines/pdf/QpdfDocumentData.h"

namespace kolvex::qpdf_bridge {

namespace {

using Matrix = std::array<double, 6>;  // a b c d e f, as PDF writes them
constexpr Matrix kIdentity{1, 0, 0, 1, 0, 0};
// Forms drawing forms: deeper than this is a loop or a hostile file.
constexpr int kMaxFormDepth = 12;
// Larger images are left alone rather than decoded whole into memory.
constexpr double kMaxImagePixels = 100'000'000;

// m × n: first m, then n.
Matrix multiply(const Matrix& m, const Matrix& n) {
    return {m[0] * n[0] + m[1] * n[2],        m[0] * n[1] + m[1] * n[3],
            m[2] * n[0] + m[3] * n[2],        m[2] * n[1] + m[3] * n[3],
            m[4] * n[0] + m[5] * n[2] + n[4], m[4] * n[1] + m[5] * n[3] + n[5]};
}

bool isName(QPDFObjectHandle object, const char* name) { return object.isName() && object.getName() == name; }

std::optional<Matrix> matrixOf(QPDFObjectHandle array) {
    if (!array.isArray() || array.getArrayNItems() != 6) return std::nullopt;
    Matrix m{};
    for (int i = 0; i < 6; ++i) {
        QPDFObjectHandle item = array.getArrayItem(i);
        if (!item.isNumber()) return std::nullopt;
        m[static_cast<size_t>(i)] = item.getNumericValue();
    }
    return m;
}

struct Use {
    QPDFObjectHandle image;
    double width = 0;
    double height = 0;
};

// Follows a content stream's graphics state far enough to know where images are drawn: the
// current matrix through q, Q and cm, and each Do with its XObject.
class PlacementReader : public QPDFObjectHandle::ParserCallbacks {
public:
    PlacementReader(std::map<QPDFObjGen, Use>& uses, QPDFObjectHandle resources, const Matrix& start, int depth,
                    std::set<QPDFObjGen>& open)
        : m_uses(uses), m_resources(resources), m_ctm(start), m_depth(depth), m_open(open) {}

    void handleObject(QPDFObjectHandle object) override {
        if (!object.isOperator()) {
            m_operands.push_back(object);
            return;
        }
        const std::string op = object.getOperatorValue();
        if (op == "q") {
            m_saved.push_back(m_ctm);
        } else if (op == "Q") {
            if (!m_saved.empty()) {
                m_ctm = m_saved.back();
                m_saved.pop_back();
            }
        } else if (op == "cm" && m_operands.size() == 6) {
            Matrix m{};
            bool numbers = true;
            for (size_t i = 0; i < 6; ++i) {
                numbers = numbers && m_operands[i].isNumber();
                if (numbers) m[i] = m_operands[i].getNumericValue();
            }
            if (numbers) m_ctm = multiply(m, m_ctm);
        } else if (op == "Do" && m_operands.size() == 1 && m_operands[0].isName()) {
            draw(m_operands[0].getName());
        }
        m_operands.clear();
    }

    void handleEOF() override {}

    static void read(QPDFObjectHandle contentOwner, std::map<QPDFObjGen, Use>& uses, QPDFObjectHandle resources,
                     const Matrix& start, int depth, std::set<QPDFObjGen>& open) {
        PlacementReader reader(uses, resources, start, depth, open);
        QPDFPageObjectHelper(contentOwner).parseContents(&reader);
    }

private:
    void draw(const std::string& name) {
        if (!m_resources.isDictionary()) return;
        QPDFObjectHandle xobjects = m_resources.getKey("/XObject");
        if (!xobjects.isDictionary()) return;
        QPDFObjectHandle xobject = xobjects.getKey(name);
        if (!xobject.isStream()) return;
        QPDFObjectHandle dictionary = xobject.getDict();
        if (isName(dictionary.getKey("/Subtype"), "/Image")) {
            Use& use = m_uses[xobject.getObjGen()];
            use.image = xobject;
            use.width = std::max(use.width, std::hypot(m_ctm[0], m_ctm[1]));
            use.height = std::max(use.height, std::hypot(m_ctm[2], m_ctm[3]));
        } else if (isName(dictionary.getKey("/Subtype"), "/Form") && m_depth < kMaxFormDepth &&
                   !m_open.count(xobject.getObjGen())) {
            const Matrix formMatrix = matrixOf(dictionary.getKey("/Matrix")).value_or(kIdentity);
            QPDFObjectHandle own = dictionary.getKey("/Resources");
            m_open.insert(xobject.getObjGen());
            try {
                read(xobject, m_uses, own.isDictionary() ? own : m_resources, multiply(formMatrix, m_ctm), m_depth + 1,
                     m_open);
            } catch (const std::runtime_error&) {
                // A damaged form hides where its images go; they keep whatever size is known.
            }
            m_open.erase(xobject.getObjGen());
        }
    }

    std::map<QPDFObjGen, Use>& m_uses;
    QPDFObjectHandle m_resources;
    Matrix m_ctm;
    int m_depth;
    std::set<QPDFObjGen>& m_open;
    std::vector<Matrix> m_saved;
    std::vector<QPDFObjectHandle> m_operands;
};

// 1 or 3 for the colour spaces an image may be recompressed in, 0 for any other.
int componentsOf(QPDFObjectHandle space) {
    if (isName(space, "/DeviceGray")) return 1;
    if (isName(space, "/DeviceRGB")) return 3;
    if (space.isArray() && space.getArrayNItems() == 2 && isName(space.getArrayItem(0), "/ICCBased")) {
        QPDFObjectHandle profile = space.getArrayItem(1);
        if (!profile.isStream()) return 0;
        QPDFObjectHandle n = profile.getDict().getKey("/N");
        if (n.isInteger() && (n.getIntValue() == 1 || n.getIntValue() == 3)) return static_cast<int>(n.getIntValue());
    }
    return 0;
}

// The image decoded, when it is one that may be recompressed.
std::optional<DecodedImage> decode(const Use& use) {
    QPDFObjectHandle image = use.image;
    QPDFObjectHandle dictionary = image.getDict();
    QPDFObjectHandle width = dictionary.getKey("/Width");
    QPDFObjectHandle height = dictionary.getKey("/Height");
    QPDFObjectHandle bits = dictionary.getKey("/BitsPerComponent");
    if (!width.isInteger() || !height.isInteger() || !bits.isInteger() || bits.getIntValue() != 8) return std::nullopt;
    if (dictionary.getKey("/ImageMask").isBool() && dictionary.getKey("/ImageMask").getBoolValue()) return std::nullopt;
    if (dictionary.hasKey("/Decode") || dictionary.getKey("/Mask").isArray()) return std::nullopt;
    const int components = componentsOf(dictionary.getKey("/ColorSpace"));
    if (components == 0) return std::nullopt;
    const long long w = width.getIntValue();
    const long long h = height.getIntValue();
    if (w < 8 || h < 8 || static_cast<double>(w) * static_cast<double>(h) > kMaxImagePixels) return std::nullopt;

    DecodedImage decoded;
    decoded.width = static_cast<int>(w);
    decoded.height = static_cast<int>(h);
    decoded.components = components;
    decoded.shownWidth = use.width;
    decoded.shownHeight = use.height;
    try {
        decoded.storedBytes = image.getRawStreamData()->getSize();
        auto data = image.getStreamData(qpdf_dl_all);
        const size_t expected = static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(components);
        if (data->getSize() != expected) return std::nullopt;
        decoded.samples.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    } catch (const std::exception&) {
        return std::nullopt;  // a filter qpdf does not decode, or damaged data: the image stays
    }
    return decoded;
}

}  // namespace

int recompressImages(Document& document, const Recompress& recompress, const ImageProgress& progress) {
    std::map<QPDFObjGen, Use> uses;
    for (QPDFPageObjectHelper& page : pagesOf(document)) {
        QPDFObjectHandle object = page.getObjectHandle();
        std::set<QPDFObjGen> open;
        try {
            PlacementReader::read(object, uses, object.getKey("/Resources"), kIdentity, 0, open);
        } catch (const std::runtime_error&) {
            // Content that cannot be parsed: whatever was found before the damage still counts.
        }
    }

    int replaced = 0;
    int done = 0;
    const int total = static_cast<int>(uses.size());
    for (auto& entry : uses) {
        std::optional<DecodedImage> decoded = decode(entry.second);
        if (decoded) {
            std::optional<JpegReplacement> replacement = recompress(*decoded);
            if (replacement && replacement->data.size() < decoded->storedBytes) {
                QPDFObjectHandle image = entry.second.image;
                image.replaceStreamData(replacement->data, QPDFObjectHandle::newName("/DCTDecode"),
                                        QPDFObjectHandle::newNull());
                QPDFObjectHandle dictionary = image.getDict();
                dictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(replacement->width));
                dictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(replacement->height));
                dictionary.removeKey("/DecodeParms");
                ++replaced;
            }
        }
        if (progress) progress(++done, total);
    }
    return replaced;
}

}  // namespace kolvex::qpdf_bridge
