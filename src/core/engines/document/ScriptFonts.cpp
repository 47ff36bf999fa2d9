// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/ScriptFonts.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include <fontconfig/fontconfig.h>
#include <hb-ot.h>
#include <hb.h>

#include <QFont>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

#include "core/engines/document/ScriptListedFont.h"

namespace kolvex {

namespace {

struct Face {
    std::string file;
    unsigned index = 0;
    QString family;
    int letters = 0;  // of the script in question
    QString sample;   // two of them
};

using FacesByScript = std::map<QChar::Script, std::vector<Face>>;

// Every face fontconfig lists, under each script it has at least two letters of.
FacesByScript installedFaces() {
    FacesByScript out;
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> all(FcPatternCreate(), &FcPatternDestroy);
    const std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> fields(FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FAMILY, FC_CHARSET, nullptr),
                                                                             &FcObjectSetDestroy);
    const std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(FcFontList(nullptr, all.get(), fields.get()), &FcFontSetDestroy);
    if (!fonts) return out;
    for (int f = 0; f < fonts->nfont; ++f) {
        FcPattern* font = fonts->fonts[f];
        FcChar8* file = nullptr;
        FcChar8* family = nullptr;
        FcCharSet* charset = nullptr;
        int index = 0;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || FcPatternGetString(font, FC_FAMILY, 0, &family) != FcResultMatch ||
            FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch)
            continue;
        FcPatternGetInteger(font, FC_INDEX, 0, &index);
        std::array<int, QChar::ScriptCount> letters{};
        std::array<QString, QChar::ScriptCount> samples;
        FcChar32 map[FC_CHARSET_MAP_SIZE];
        FcChar32 next = 0;
        for (FcChar32 base = FcCharSetFirstPage(charset, map, &next); base != FC_CHARSET_DONE; base = FcCharSetNextPage(charset, map, &next)) {
            for (int word = 0; word < FC_CHARSET_MAP_SIZE; ++word)
                for (FcChar32 bits = map[word]; bits != 0; bits &= bits - 1) {
                    const char32_t c = base + 32 * static_cast<FcChar32>(word) + static_cast<FcChar32>(__builtin_ctz(bits));
                    const QChar::Script script = QChar::script(c);
                    if (script <= QChar::Script_Common || !QChar::isLetter(c)) continue;
                    if (++letters[script] <= 2) samples[script] += QString::fromUcs4(&c, 1);
                }
        }
        for (int script = 0; script < QChar::ScriptCount; ++script)
            if (letters[script] >= 2)
                out[static_cast<QChar::Script>(script)].push_back(
                    Face{reinterpret_cast<const char*>(file), static_cast<unsigned>(index), QString::fromUtf8(reinterpret_cast<const char*>(family)),
                         letters[script], samples[script]});
    }
    return out;
}

// The OpenType script tags HarfBuzz (and so Qt) looks for in a font for the script of `letter`.
std::vector<uint32_t> scriptTagsOf(char32_t letter) {
    hb_tag_t tags[HB_OT_MAX_TAGS_PER_SCRIPT];
    unsigned count = HB_OT_MAX_TAGS_PER_SCRIPT;
    hb_ot_tags_from_script_and_language(hb_unicode_script(hb_unicode_funcs_get_default(), letter), HB_LANGUAGE_INVALID, &count, tags, nullptr,
                                        nullptr);
    return {tags, tags + count};
}

// Whether the face lists one of the tags in its GSUB, or lays itself out without one (AAT);
// none when it is not an OpenType or TrueType font (a Type 1 font: nothing to copy).
std::optional<bool> listsScript(const Face& face, const std::vector<uint32_t>& tags) {
    const std::unique_ptr<hb_blob_t, decltype(&hb_blob_destroy)> blob(hb_blob_create_from_file_or_fail(face.file.c_str()), &hb_blob_destroy);
    if (!blob) return std::nullopt;
    const std::unique_ptr<hb_face_t, decltype(&hb_face_destroy)> hbFace(hb_face_create(blob.get(), face.index), &hb_face_destroy);
    const auto has = [&hbFace](hb_tag_t table) {
        hb_blob_t* data = hb_face_reference_table(hbFace.get(), table);
        const bool present = hb_blob_get_length(data) > 0;
        hb_blob_destroy(data);
        return present;
    };
    if (!has(HB_TAG('h', 'e', 'a', 'd'))) return std::nullopt;
    if (has(HB_TAG('m', 'o', 'r', 'x')) || has(HB_TAG('m', 'o', 'r', 't'))) return true;
    return hb_ot_layout_table_select_script(hbFace.get(), HB_OT_TAG_GSUB, static_cast<unsigned>(tags.size()), tags.data(), nullptr, nullptr);
}

struct Candidate {
    QChar::Script script;
    std::vector<uint32_t> tags;
    std::vector<Face> faces;  // of the family with the most letters
};

// The scripts that faces cover but that no covering face lists in its GSUB.
std::vector<Candidate> unlistedScripts() {
    std::vector<Candidate> out;
    for (auto& [script, faces] : installedFaces()) {
        std::stable_sort(faces.begin(), faces.end(), [](const Face& a, const Face& b) { return a.letters > b.letters; });
        const std::vector<uint32_t> tags = scriptTagsOf(faces.front().sample.toUcs4().front());
        if (tags.empty()) continue;
        std::vector<Face> copiable;
        bool listed = false;
        for (const Face& face : faces) {
            const std::optional<bool> lists = listsScript(face, tags);
            listed = listed || lists.value_or(false);
            if (listed) break;
            if (lists) copiable.push_back(face);
        }
        if (listed || copiable.empty()) continue;
        faces = std::move(copiable);
        Candidate candidate{script, tags, {}};
        for (const Face& face : faces)
            if (face.family == faces.front().family) candidate.faces.push_back(face);
        out.push_back(std::move(candidate));
    }
    return out;
}

// Registers a copy of each of the candidate's faces that lists its script, under the same family
// and style: registered after the installed faces, a copy takes the place of its original in
// Qt's font database, and so in every fallback list that names the family. Whether any was.
bool registerListedCopies(const Candidate& candidate) {
    bool registered = false;
    for (const Face& face : candidate.faces) {
        // The first tag is the one HarfBuzz prefers; one is enough for Qt to take the font.
        const QByteArray font = ScriptListedFont::fromFile(face.file, face.index, {candidate.tags.front()});
        registered = (!font.isEmpty() && QFontDatabase::addApplicationFontFromData(font) >= 0) || registered;
    }
    return registered;
}

struct State {
    std::mutex mutex;
    std::set<QChar::Script> settled;  // drawn, or done with
    std::optional<std::vector<Candidate>> candidates;
    std::vector<ScriptFonts::Listed> listed;
};

State& state() {
    static State instance;
    return instance;
}

}  // namespace

std::vector<ScriptFonts::Listed> ScriptFonts::prepareFor(const QString& text, const QFont& font) {
    State& s = state();
    std::vector<bool> done(QChar::ScriptCount);
    {
        const std::lock_guard lock(s.mutex);
        for (const QChar::Script script : s.settled) done[script] = true;
    }
    // A few letters of each script of the text not settled yet (a long text is read once, with
    // no allocation for the letters of settled scripts).
    std::map<QChar::Script, std::u32string> letters;
    const QChar* units = text.constData();
    bool asciiDone = done[QChar::Script_Latin];  // ASCII is Latin letters and common signs
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = units[i].unicode();
        if (c < 0x80 && asciiDone) continue;
        if (units[i].isHighSurrogate() && i + 1 < text.size() && units[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(units[i], units[i + 1]);
            ++i;
        }
        const QChar::Script script = QChar::script(c);
        if (done[script] || script <= QChar::Script_Common || !QChar::isLetter(c)) continue;
        std::u32string& some = letters[script];
        if (some.find(c) == std::u32string::npos) some += c;
        if (some.size() >= 16) done[script] = true;  // enough to tell
        asciiDone = done[QChar::Script_Latin];
    }
    const std::lock_guard lock(s.mutex);
    for (auto it = letters.begin(); it != letters.end();) it = s.settled.count(it->first) ? letters.erase(it) : std::next(it);
    if (!letters.empty()) {
        // On a thread of its own: its layouts fill that thread's font cache, refusals and all,
        // and the cache goes with it. The font is asked for anew there (a QFont is not shared
        // between threads).
        const QStringList families = font.families();
        const QFont::StyleHint hint = font.styleHint();
        std::thread worker([&] {
            QFont probe(families);
            probe.setStyleHint(hint);
            for (const auto& [script, some] : letters) {
                s.settled.insert(script);
                if (drawsAll(QString::fromStdU32String(some), probe)) continue;
                if (!s.candidates) s.candidates = unlistedScripts();
                const auto candidate = std::find_if(s.candidates->begin(), s.candidates->end(),
                                                    [script = script](const Candidate& c) { return c.script == script; });
                if (candidate == s.candidates->end()) continue;  // no font has it, or Qt draws it in none for another cause
                if (registerListedCopies(*candidate)) s.listed.push_back({script, candidate->faces.front().family});
            }
        });
        worker.join();
    }
    return s.listed;
}

bool ScriptFonts::drawsAll(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    // Where no font has a character, Qt draws a box of no font at all, or a font's glyph 0.
    int glyphs = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        if (!run.rawFont().isValid() || run.rawFont().fontTable("head").isEmpty()) return false;
        for (const quint32 glyph : run.glyphIndexes()) {
            if (glyph == 0) return false;
            ++glyphs;
        }
    }
    return glyphs > 0;
}

}  // namespace kolvex
