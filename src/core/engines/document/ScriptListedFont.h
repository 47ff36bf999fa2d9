// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QByteArray>

namespace kolvex {

// A copy of one face of an installed font whose glyph substitution table (GSUB) lists scripts it
// did not.
//
// Qt shapes some scripts (Thaana, Syriac, the Indic scripts, Khmer, N'Ko) only in a font whose
// GSUB has a record for the script, and refuses every other font for them, even one that has
// every letter and needs no substitution to draw them (Noto Sans Thaana has no GSUB at all): the
// text comes out as empty boxes. The copy's new script records point at the font's default
// script (DFLT) when it has one, and at a script with no features otherwise, so that HarfBuzz
// shapes the script in the copy exactly as in the original. Nothing else of the font changes,
// its names included, but its DSIG (dropped: the signature no longer holds).
class ScriptListedFont {
public:
    ScriptListedFont() = delete;

    // The face `index` of the font file `file` (a collection too) with `tags` (OpenType script
    // tags, 'thaa') listed in its GSUB, as a standalone font file with its table directory and
    // checksums made anew. Empty when the file cannot be read or its tables are too large for
    // the new offsets.
    static QByteArray fromFile(const std::string& file, unsigned index, const std::vector<uint32_t>& tags);

    // A GSUB table (empty: none) with records for `tags` added to its script list; the features
    // and lookups stay as they were. Empty when the table is damaged or its offsets would overflow.
    static QByteArray listScripts(const QByteArray& gsub, const std::vector<uint32_t>& tags);
    // The script tags a GSUB table lists, in its order.
    static std::vector<uint32_t> scriptTags(const QByteArray& gsub);
};

}  // namespace kolvex
