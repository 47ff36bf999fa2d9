// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include <QChar>
#include <QString>

class QFont;

namespace kolvex {

// Makes every script that an installed font covers drawable in that font.
//
// When Qt cannot draw a script of a text, the installed fonts are read (fontconfig's list and
// character sets): when some face has letters of the script but no covering face lists it in its
// glyph substitution table (Qt refuses such fonts for the scripts it shapes only with OpenType),
// a copy of the family with the most of them that lists the script is registered with Qt in its
// place (see ScriptListedFont), and Qt's font fallback takes it for that script's text from then
// on, in any document font. A script that no installed font covers stays undrawn (the PDF
// writer's note names its characters).
class ScriptFonts {
public:
    ScriptFonts() = delete;

    struct Listed {
        QChar::Script script;
        QString family;  // the installed family Qt refused, now drawn from its copy
    };

    // Before `text` is laid out in `font`: for each script of its letters that Qt does not draw
    // yet, does the work above (reading the installed fonts the first time only), once per
    // script and process, so that text Qt draws whole costs one check per script. Safe from any
    // thread (calls wait for each other). Needs a QGuiApplication. Lays text out on a thread of
    // its own, so that no caller's font cache keeps a refusal. Returns every copy registered so far.
    static std::vector<Listed> prepareFor(const QString& text, const QFont& font);

    // Whether Qt draws every character of `text` in `font` or its fallbacks with a glyph of a
    // real font (not the empty box Qt draws where no font will do).
    static bool drawsAll(const QString& text, const QFont& font);
};

}  // namespace kolvex
