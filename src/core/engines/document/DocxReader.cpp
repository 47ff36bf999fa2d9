#include "core/engines/document/DocxReader.h"

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <pugixml.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "core/engines/document/DocumentFormatError.h"

namespace kolvex {

namespace {

constexpr size_t kMaxEntries = 100000;

std::string_view localName(const char* qualified) {
    std::string_view name(qualified);
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// "w:val" absent or anything but a false word means on.
bool toggleValue(const pugi::xml_node& property) {
    for (const pugi::xml_attribute& attribute : property.attributes()) {
        if (localName(attribute.name()) != "val") continue;
        const std::string_view value = attribute.value();
        return !(value == "0" || value == "false" || value == "off" || value == "none");
    }
    return true;
}

std::string_view attributeValue(const pugi::xml_node& node, std::string_view name) {
    for (const pugi::xml_attribute& attribute : node.attributes())
        if (localName(attribute.name()) == name) return attribute.value();
    return {};
}

bool looksMonospaced(std::string_view family) {
    static const char* const kMarks[] = {"Courier", "Mono", "Menlo", "Monaco", "Consolas", "Code", "Fixed"};
    for (const char* mark : kMarks)
        if (family.find(mark) != std::string_view::npos) return true;
    return false;
}

struct RunStyle {
    bool bold = false;
    bool italic = false;
    bool monospaced = false;
    double pointSize = 12;
};

// Run properties as one level of the style hierarchy states them; unset ones come from below.
struct RunProperties {
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<bool> monospaced;
    std::optional<double> pointSize;

    static RunProperties of(const pugi::xml_node& rPr) {
        RunProperties p;
        for (const pugi::xml_node& property : rPr.children()) {
            const std::string_view name = localName(property.name());
            if (name == "b") p.bold = toggleValue(property);
            else if (name == "i") p.italic = toggleValue(property);
            else if (name == "sz") {
                const int halfPoints = std::atoi(std::string(attributeValue(property, "val")).c_str());
                if (halfPoints >= 2 && halfPoints <= 3276) p.pointSize = halfPoints / 2.0;
            } else if (name == "rFonts") {
                p.monospaced = looksMonospaced(attributeValue(property, "ascii")) || looksMonospaced(attributeValue(property, "hAnsi"));
            }
        }
        return p;
    }

    void applyTo(RunStyle& style) const {
        if (bold) style.bold = *bold;
        if (italic) style.italic = *italic;
        if (monospaced) style.monospaced = *monospaced;
        if (pointSize) style.pointSize = *pointSize;
    }
};

pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view name) {
    for (const pugi::xml_node& child : node.children())
        if (localName(child.name()) == name) return child;
    return {};
}

// The paragraph and character styles of styles.xml: what each says of runs, and what it is based on.
class StyleSheet {
public:
    StyleSheet() = default;

    explicit StyleSheet(const pugi::xml_node& styles) {
        for (const pugi::xml_node& child : styles.children()) {
            const std::string_view name = localName(child.name());
            if (name == "docDefaults") {
                if (pugi::xml_node rPr = childNamed(childNamed(child, "rPrDefault"), "rPr")) m_defaults = RunProperties::of(rPr);
            } else if (name == "style") {
                const std::string_view type = attributeValue(child, "type");
                if (type != "paragraph" && type != "character") continue;
                Style style;
                style.basedOn = std::string(attributeValue(childNamed(child, "basedOn"), "val"));
                if (pugi::xml_node rPr = childNamed(child, "rPr")) style.properties = RunProperties::of(rPr);
                const std::string id(attributeValue(child, "styleId"));
                const std::string_view isDefault = attributeValue(child, "default");
                if (type == "paragraph" && (isDefault == "1" || isDefault == "true")) m_defaultParagraph = id;
                m_styles[id] = std::move(style);
            }
        }
    }

    // The style a run starts from: document defaults, then the paragraph's style chain.
    RunStyle paragraphBase(std::string_view paragraphStyle) const {
        RunStyle style;
        m_defaults.applyTo(style);
        apply(paragraphStyle.empty() ? std::string_view(m_defaultParagraph) : paragraphStyle, style);
        return style;
    }

    // A style and the styles it is based on, the base first. Cycles and long chains stop.
    void apply(std::string_view id, RunStyle& style) const {
        std::vector<const RunProperties*> chain;
        std::string current(id);
        for (int depth = 0; depth < 32 && !current.empty(); ++depth) {
            auto found = m_styles.find(current);
            if (found == m_styles.end()) break;
            chain.push_back(&found->second.properties);
            current = found->second.basedOn;
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->applyTo(style);
    }

private:
    struct Style {
        std::string basedOn;
        RunProperties properties;
    };
    RunProperties m_defaults;
    std::string m_defaultParagraph;
    std::map<std::string, Style> m_styles;
};

class BodyWalker {
public:
    BodyWalker(const std::map<std::string, std::string>& links, const StyleSheet& styles) : m_links(links), m_styles(styles) {}

    StyledText take() { return std::move(m_out); }

    void block(const pugi::xml_node& node, size_t depth) {
        if (depth > DocxReader::kMaxDepth) throw DocumentFormatError("DOCX elements nested too deeply");
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string_view name = localName(child.name());
            if (name == "p") {
                paragraph(child, depth + 1);
            } else if (name == "del" || name == "moveFrom" || name == "Fallback" || name == "sectPr" || name == "tblPr" ||
                       name == "tblGrid" || name == "trPr" || name == "tcPr" || name == "sdtPr" || name == "sdtEndPr") {
                continue;
            } else {
                // Tables, rows, cells, content controls, custom XML, inserted text: their paragraphs.
                block(child, depth + 1);
            }
        }
    }

private:
    const std::map<std::string, std::string>& m_links;
    const StyleSheet& m_styles;
    RunStyle m_paragraphBase;
    StyledText m_out;
    bool m_firstParagraph = true;
    std::optional<std::string> m_link;

    void paragraph(const pugi::xml_node& p, size_t depth) {
        if (!m_firstParagraph) m_out.append("\n", TextAttributes{TextFont::system(), std::nullopt, kIntentNone});
        m_firstParagraph = false;
        const std::string_view styleId = attributeValue(childNamed(childNamed(p, "pPr"), "pStyle"), "val");
        const RunStyle outer = m_paragraphBase;
        m_paragraphBase = m_styles.paragraphBase(styleId);
        inlineContent(p, depth);
        m_paragraphBase = outer;
    }

    void inlineContent(const pugi::xml_node& node, size_t depth) {
        if (depth > DocxReader::kMaxDepth) throw DocumentFormatError("DOCX elements nested too deeply");
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string_view name = localName(child.name());
            if (name == "r") {
                run(child);
            } else if (name == "hyperlink") {
                const std::optional<std::string> outer = m_link;
                const std::string_view id = attributeValue(child, "id");
                const std::string_view anchor = attributeValue(child, "anchor");
                auto found = m_links.find(std::string(id));
                if (found != m_links.end()) m_link = found->second;
                else if (!anchor.empty()) m_link = "#" + std::string(anchor);
                inlineContent(child, depth + 1);
                m_link = outer;
            } else if (name == "del" || name == "moveFrom" || name == "Fallback" || name == "pPr" || name == "rPr" ||
                       name == "sdtPr" || name == "sdtEndPr" || name == "drawing" || name == "pict" || name == "object") {
                continue;
            } else if (name == "p") {
                // A paragraph nested where runs were expected (malformed, or a text box): keep its text.
                paragraph(child, depth + 1);
            } else {
                inlineContent(child, depth + 1);  // ins, smartTag, sdt, sdtContent, fldSimple, AlternateContent/Choice, …
            }
        }
    }

    void run(const pugi::xml_node& r) {
        RunStyle style = m_paragraphBase;
        if (pugi::xml_node rPr = childNamed(r, "rPr")) {
            m_styles.apply(attributeValue(childNamed(rPr, "rStyle"), "val"), style);
            RunProperties::of(rPr).applyTo(style);
        }
        TextAttributes attributes;
        TextFont font = TextFont::system(style.pointSize);
        if (style.monospaced) font.design = TextFont::Design::monospaced;
        font.bold = style.bold;
        font.italic = style.italic;
        attributes.font = font;
        attributes.link = m_link;
        for (const pugi::xml_node& child : r.children()) {
            if (child.type() != pugi::node_element) continue;
            const std::string_view name = localName(child.name());
            if (name == "t") m_out.append(child.text().get(), attributes);
            else if (name == "tab" || name == "ptab") m_out.append("\t", attributes);
            else if (name == "br" || name == "cr") m_out.append("\n", attributes);
            else if (name == "noBreakHyphen") m_out.append("\u2011", attributes);
            else if (name == "AlternateContent") {
                for (const pugi::xml_node& choice : child.children())
                    if (localName(choice.name()) == "Choice") {
                        for (const pugi::xml_node& t : choice.children())
                            if (localName(t.name()) == "t") m_out.append(t.text().get(), attributes);
                        break;
                    }
            }
            // delText, instrText, drawings, footnote references and the like carry no visible text.
        }
    }
};

pugi::xml_document parseXml(std::string_view xml, const char* what) {
    pugi::xml_document document;
    // No parse_doctype: a DTD is skipped, never read, and no entity beyond XML's own is expanded.
    const unsigned options = pugi::parse_default & ~pugi::parse_doctype;
    const pugi::xml_parse_result result = document.load_buffer(xml.data(), xml.size(), options, pugi::encoding_auto);
    if (!result) throw DocumentFormatError(std::string("the ") + what + " is not well-formed XML: " + result.description());
    return document;
}

struct ArchiveCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

std::string readEntry(archive* a, const char* name) {
    std::string data;
    char buffer[65536];
    for (;;) {
        const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
        if (n < 0) throw DocumentFormatError(std::string("cannot decompress ") + name + ": " + (archive_error_string(a) ? archive_error_string(a) : "damaged"));
        if (n == 0) break;
        if (data.size() + static_cast<size_t>(n) > DocxReader::kMaxPartBytes) throw DocumentFormatError(std::string(name) + " is too large");
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

}  // namespace

StyledText DocxReader::read(const std::filesystem::path& path) {
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) throw DocumentFormatError("cannot open the document");
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) throw DocumentFormatError("not a regular file");

    std::unique_ptr<archive, ArchiveCloser> a(archive_read_new());
    if (!a) throw DocumentFormatError("cannot read archives");
    archive_read_support_format_zip(a.get());
    if (archive_read_open_fd(a.get(), file.fd, 65536) != ARCHIVE_OK) throw DocumentFormatError("not a ZIP package");

    std::optional<std::string> documentXml;
    std::string relationships;
    std::string styles;
    archive_entry* entry = nullptr;
    for (size_t count = 0; count < kMaxEntries; ++count) {
        const int status = archive_read_next_header(a.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) throw DocumentFormatError("not a ZIP package");
        const char* name = archive_entry_pathname(entry);
        if (!name) continue;
        if (std::strcmp(name, "word/document.xml") == 0) documentXml = readEntry(a.get(), name);
        else if (std::strcmp(name, "word/_rels/document.xml.rels") == 0) relationships = readEntry(a.get(), name);
        else if (std::strcmp(name, "word/styles.xml") == 0) styles = readEntry(a.get(), name);
    }
    if (!documentXml) throw DocumentFormatError("the package has no word/document.xml");
    return readParts(*documentXml, relationships, styles);
}

StyledText DocxReader::readParts(std::string_view documentXml, std::string_view relationshipsXml, std::string_view stylesXml) {
    std::map<std::string, std::string> links;
    if (!relationshipsXml.empty()) {
        const pugi::xml_document rels = parseXml(relationshipsXml, "relationships part");
        for (const pugi::xml_node& relationship : rels.first_child().children()) {
            const std::string_view type = attributeValue(relationship, "Type");
            if (type.size() >= 10 && type.substr(type.size() - 10) == "/hyperlink")
                links[std::string(attributeValue(relationship, "Id"))] = std::string(attributeValue(relationship, "Target"));
        }
    }
    StyleSheet styles;
    pugi::xml_document stylesDocument;
    if (!stylesXml.empty()) {
        stylesDocument = parseXml(stylesXml, "styles part");
        styles = StyleSheet(stylesDocument.document_element());
    }
    const pugi::xml_document document = parseXml(documentXml, "document part");
    pugi::xml_node root = document.document_element();
    if (localName(root.name()) != "document") throw DocumentFormatError("the document part has no document element");
    pugi::xml_node body;
    for (const pugi::xml_node& child : root.children())
        if (localName(child.name()) == "body") body = child;
    BodyWalker walker(links, styles);
    if (body) walker.block(body, 0);
    return walker.take();
}

}  // namespace kolvex
