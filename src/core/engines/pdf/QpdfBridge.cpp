// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/QpdfBridge.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

#include <qpdf/Buffer.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "core/engines/pdf/QpdfDepthGuard.h"
#include "core/engines/pdf/QpdfDocumentData.h"
#include "core/engines/pdf/QpdfFileSink.h"
#include "core/engines/pdf/QpdfFileSource.h"

namespace kolvex::qpdf_bridge {

namespace {

// Hands qpdf a stream's bytes when it writes them; the bytes stay shared, never copied.
class SharedBytesProvider : public QPDFObjectHandle::StreamDataProvider {
public:
    explicit SharedBytesProvider(std::shared_ptr<const std::string> bytes) : m_bytes(std::move(bytes)) {}

    void provideStreamData(QPDFObjGen const&, Pipeline* pipeline) override {
        pipeline->write(reinterpret_cast<const unsigned char*>(m_bytes->data()), m_bytes->size());
        pipeline->finish();
    }

private:
    std::shared_ptr<const std::string> m_bytes;
};

DocumentPtr newDocument() {
    auto document = std::make_shared<Document>();
    // Damage is reported to the user as an error of ours; qpdf's warnings would go to stderr.
    document->pdf.setSuppressWarnings(true);
    return document;
}

QPDFObjectHandle streamOf(QPDF& pdf, std::shared_ptr<const std::string> bytes, const std::string& filter) {
    QPDFObjectHandle stream = pdf.newStream();
    stream.replaceStreamData(std::make_shared<SharedBytesProvider>(std::move(bytes)),
                             filter.empty() ? QPDFObjectHandle::newNull() : QPDFObjectHandle::newName(filter),
                             QPDFObjectHandle::newNull());
    return stream;
}

QPDFObjectHandle imageStream(QPDF& pdf, std::shared_ptr<const std::string> samples, const std::string& filter,
                             int width, int height, const std::string& colourSpace, int bits) {
    QPDFObjectHandle stream = streamOf(pdf, std::move(samples), filter);
    QPDFObjectHandle dictionary = stream.getDict();
    dictionary.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dictionary.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    dictionary.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colourSpace));
    dictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(bits));
    return stream;
}

// A number for a content stream: C locale, no exponent for the sizes of pages.
std::string number(double value) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(6);
    text << std::fixed << value;
    std::string s = text.str();
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

}  // namespace

std::vector<QPDFPageObjectHelper>& pagesOf(Document& document) {
    if (document.pagesKnown) return document.pages;
    QPDFPageDocumentHelper helper(document.pdf);
    if (!document.pushedInherited) {
        helper.pushInheritedAttributesToPage();
        document.pushedInherited = true;
    }
    document.pages = helper.getAllPages();
    document.pagesKnown = true;
    return document.pages;
}

Opened open(const std::filesystem::path& file) {
    Opened result;
    auto source = QpdfFileSource::open(file);
    if (!source) return result;
    auto document = newDocument();
    try {
        document->pdf.processInputSource(std::move(source), "");
    } catch (const QPDFExc& error) {
        result.status = error.getErrorCode() == qpdf_e_password ? OpenStatus::needsPassword : OpenStatus::unreadable;
        return result;
    } catch (const std::exception&) {
        return result;
    }
    try {
        Nesting deepest = deepestTree(document->pdf);
        if (!deepest.structure.empty()) {
            result.status = OpenStatus::tooDeep;
            result.tooDeep = std::move(deepest);
            return result;
        }
    } catch (const std::exception&) {
        return result;
    }
    result.status = OpenStatus::opened;
    result.document = std::move(document);
    return result;
}

DocumentPtr makeEmpty() {
    auto document = newDocument();
    document->pdf.emptyPDF();
    return document;
}

int pageCount(Document& document) {
    try {
        return static_cast<int>(document.pdf.getAllPages().size());
    } catch (const std::exception&) {
        return 0;
    }
}

void rotatePages(Document& document, int step) {
    if (step % 360 == 0) return;
    for (auto& page : pagesOf(document)) page.rotatePage(step, true);
}

bool hasInteractiveForm(Document& document) {
    QPDFObjectHandle form = document.pdf.getRoot().getKey("/AcroForm");
    return form.isDictionary() && form.getKey("/Fields").isArray() && form.getKey("/Fields").getArrayNItems() > 0;
}

namespace {

const PDFVersion& versionOf(Document& document) {
    if (!document.ownVersion) document.ownVersion = document.pdf.getVersionAsPDFVersion();
    return *document.ownVersion;
}

QPDFAcroFormDocumentHelper& formsOf(Document& document) {
    if (!document.forms) document.forms = std::make_unique<QPDFAcroFormDocumentHelper>(document.pdf);
    return *document.forms;
}

// Copies `page` to the end of `target`. A page copied alone keeps its widgets but not the
// fields they belong to, which live in the catalog's form: those are copied too (renamed where
// a name is taken), so that the form still works, as qpdf's own page selection does.
void copyPage(Document& target, Document& source, QPDFPageObjectHelper page, bool withForm) {
    if (!withForm) {
        QPDFPageDocumentHelper(target.pdf).addPage(page, false);
        return;
    }
    QPDFObjectHandle copy = target.pdf.copyForeignObject(page.getObjectHandle());
    QPDFPageDocumentHelper(target.pdf).addPage(QPDFPageObjectHelper(copy), false);
    try {
        formsOf(target).fixCopiedAnnotations(copy, page.getObjectHandle(), formsOf(source));
        if (formsOf(source).getNeedAppearances()) formsOf(target).setNeedAppearances(true);
    } catch (const std::exception&) {
        // A form qpdf cannot make sense of: the page keeps its widgets, as a page copied on its
        // own does, rather than the whole job failing over the form.
    }
}

// Throws NestedTooDeeply, before anything is copied, when what copying `pages` of `source`
// (with its form, when it has one) would follow nests too deeply.
void refuseTooDeepToCopyPages(Document& source, const std::vector<QPDFPageObjectHelper>& pages, bool withForm) {
    // What one page's copy brought is not copied again for the next.
    std::set<QPDFObjGen> seen;
    for (const auto& page : pages) refuseTooDeepToCopy(page.getObjectHandle(), seen);
    if (withForm) refuseTooDeepToCopy(source.pdf.getRoot().getKey("/AcroForm"), seen);
}

}  // namespace

void appendPage(Document& target, Document& source, int index) {
    const auto& pages = pagesOf(source);
    if (index < 0 || static_cast<size_t>(index) >= pages.size()) throw std::out_of_range("no such page");
    const QPDFPageObjectHelper& page = pages[static_cast<size_t>(index)];
    const bool withForm = hasInteractiveForm(source);
    refuseTooDeepToCopyPages(source, {page}, withForm);
    target.pagesKnown = false;
    target.copiedVersion.updateIfGreater(versionOf(source));
    copyPage(target, source, page, withForm);
}

void appendAllPages(Document& target, Document& source) {
    const bool withForm = hasInteractiveForm(source);
    refuseTooDeepToCopyPages(source, pagesOf(source), withForm);
    target.pagesKnown = false;
    target.copiedVersion.updateIfGreater(versionOf(source));
    for (const auto& page : pagesOf(source)) copyPage(target, source, page, withForm);
}

void preload(Document& document) {
    pagesOf(document);
    for (QPDFObjectHandle& object : document.pdf.getAllObjects()) object.getTypeCode();
}

void stripMetadata(Document& document) {
    document.pdf.getTrailer().removeKey("/Info");
    document.pdf.getRoot().removeKey("/Metadata");
}

void appendPicturePage(Document& target, const PicturePage& picture) {
    QPDF& pdf = target.pdf;
    QPDFObjectHandle image = imageStream(pdf, picture.samples, picture.filter, picture.pixelWidth, picture.pixelHeight,
                                         picture.colourSpace, picture.bitsPerComponent);
    if (picture.iccProfile) {
        const int components = picture.colourSpace == "/DeviceGray" ? 1 : picture.colourSpace == "/DeviceCMYK" ? 4 : 3;
        QPDFObjectHandle profile = streamOf(pdf, picture.iccProfile, "");
        profile.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(components));
        profile.getDict().replaceKey("/Alternate", QPDFObjectHandle::newName(picture.colourSpace));
        QPDFObjectHandle space = QPDFObjectHandle::newArray();
        space.appendItem(QPDFObjectHandle::newName("/ICCBased"));
        space.appendItem(profile);
        image.getDict().replaceKey("/ColorSpace", space);
    }
    if (picture.invertedCmyk) {
        QPDFObjectHandle decode = QPDFObjectHandle::newArray();
        for (int i = 0; i < 4; ++i) {
            decode.appendItem(QPDFObjectHandle::newInteger(1));
            decode.appendItem(QPDFObjectHandle::newInteger(0));
        }
        image.getDict().replaceKey("/Decode", decode);
    }
    if (picture.alpha) {
        image.getDict().replaceKey("/SMask", imageStream(pdf, picture.alpha, "", picture.pixelWidth, picture.pixelHeight,
                                                         "/DeviceGray", picture.bitsPerComponent));
    }

    const auto& m = picture.placement;
    auto contents = std::make_shared<const std::string>("q " + number(m[0]) + " " + number(m[1]) + " " + number(m[2]) +
                                                        " " + number(m[3]) + " " + number(m[4]) + " " + number(m[5]) +
                                                        " cm /Im0 Do Q\n");
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);

    const auto& b = picture.mediaBox;
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(b[0], b[1], b[2], b[3])));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", streamOf(pdf, std::move(contents), ""));
    target.pagesKnown = false;
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
}

bool isEncrypted(Document& document) { return document.pdf.isEncrypted(); }

WriteStatus write(Document& document, const std::filesystem::path& file, const WriteOptions& options) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return WriteStatus::cannotCreate;
    FileSink sink(fd);
    bool written = false;
    try {
        QPDFWriter writer(document.pdf);
        writer.setOutputPipeline(&sink);
        writer.setMinimumPDFVersion(document.copiedVersion);
        // A document that opened without a password keeps its owner password and permissions
        // in whatever is made from it; QPDFWriter would otherwise keep only its own source's.
        Document* keep = options.encryptionOf;
        if (keep && keep->pdf.isEncrypted()) {
            writer.copyEncryptionParameters(keep->pdf);
        } else {
            writer.setPreserveEncryption(false);
        }
        if (options.compact) {
            static std::once_flag level;
            // A process-wide setting in qpdf: the best level for every stream it compresses.
            std::call_once(level, [] { Pl_Flate::setCompressionLevel(9); });
            writer.setCompressStreams(true);
            writer.setDecodeLevel(qpdf_dl_generalized);
            writer.setRecompressFlate(true);
            writer.setObjectStreamMode(qpdf_o_generate);
        }
        writer.write();
        written = true;
    } catch (const std::exception&) {
        written = false;
    }
    const bool flushed = sink.flush();
    const bool closed = ::close(fd) == 0;
    if (!(written && flushed && closed)) return WriteStatus::failed;
    if (options.bytesWritten) *options.bytesWritten = sink.total();
    return WriteStatus::written;
}

bool rewriteTextLayer(const std::filesystem::path& file, const std::function<bool(TextLayer&)>& edit) {
    std::string bytes;
    {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + file.string());
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto document = newDocument();
    document->pdf.processMemoryFile(file.c_str(), bytes.data(), bytes.size());
    const auto decoded = [](QPDFObjectHandle stream) {
        const std::shared_ptr<Buffer> data = stream.getStreamData(qpdf_dl_generalized);
        return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    };
    TextLayer layer;
    std::vector<QPDFObjectHandle> mapStreams;
    std::map<QPDFObjGen, size_t> mapIndex;
    std::vector<QPDFPageObjectHelper>& pages = pagesOf(*document);
    for (QPDFPageObjectHelper& page : pages) {
        TextLayer::Page text;
        QPDFObjectHandle resources = page.getAttribute("/Resources", false);
        QPDFObjectHandle fonts = resources.isDictionary() ? resources.getKey("/Font") : QPDFObjectHandle::newNull();
        if (fonts.isDictionary()) {
            for (const std::string& name : fonts.getKeys()) {
                QPDFObjectHandle font = fonts.getKey(name);
                if (!font.isDictionary() || !font.hasKey("/ToUnicode") || !font.getKey("/ToUnicode").isStream()) continue;
                QPDFObjectHandle map = font.getKey("/ToUnicode");
                auto found = mapIndex.find(map.getObjGen());
                if (found == mapIndex.end()) {
                    found = mapIndex.emplace(map.getObjGen(), layer.maps.size()).first;
                    layer.maps.push_back(decoded(map));
                    mapStreams.push_back(map);
                }
                text.fontMaps[name] = found->second;
            }
        }
        QPDFObjectHandle contents = page.getObjectHandle().getKey("/Contents");
        if (contents.isStream()) {
            text.content = decoded(contents);
        } else if (contents.isArray()) {
            for (int i = 0; i < contents.getArrayNItems(); ++i)
                if (contents.getArrayItem(i).isStream()) text.content += decoded(contents.getArrayItem(i)) + "\n";
        }
        layer.pages.push_back(std::move(text));
    }
    const TextLayer original = layer;
    if (!edit(layer)) return false;
    for (size_t i = 0; i < mapStreams.size() && i < layer.maps.size(); ++i)
        if (layer.maps[i] != original.maps[i])
            mapStreams[i].replaceStreamData(layer.maps[i], QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    for (size_t i = 0; i < pages.size() && i < layer.pages.size(); ++i) {
        if (layer.pages[i].content == original.pages[i].content) continue;
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(&document->pdf, layer.pages[i].content);
        pages[i].getObjectHandle().replaceKey("/Contents", stream);
    }
    const WriteStatus status = write(*document, file, WriteOptions{});
    if (status != WriteStatus::written) throw std::runtime_error("cannot write " + file.string());
    return true;
}

}  // namespace kolvex::qpdf_bridge
