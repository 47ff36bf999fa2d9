// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

class QTextDocument;

// The text formats written from a rich document. Pure functions over the document; call them on
// the thread that owns it.
namespace kolvex::text_writers {

// RTF: a font table (Helvetica, Courier, then the named families), a colour table, headings'
// outline levels, list items with their markers and hanging indents, tables row by row (header
// rows repeated on each page), pictures as PNG, page breaks, and each run with its size, bold,
// italic, underline, strike-through, colour and link field; characters beyond ASCII as \uN with a
// "?" fallback. Never empty.
std::string rtf(const QTextDocument& document);

// An HTML page with Qt's rich-text markup: headings, lists, tables, page breaks and character
// styles, with pictures inside the page as data: URLs, titled `title` when the document has no
// title of its own. Its head starts with "<head>". Never empty.
std::string html(const QTextDocument& document, std::string_view title);

// Markdown: one line per paragraph; headings as "#" lines, list items as "-" or "1." with three
// spaces per level, tables as pipe tables; bold, italic, strike-through, code spans and links
// marked inline, and Markdown's own markup characters escaped where they are text. Pictures and
// page breaks have no Markdown form and are left out.
std::string markdown(const QTextDocument& document);

// Plain text: one line per paragraph, list items with their markers, tables as aligned rows
// (cells padded to their column, two spaces apart), a form feed where a page break was.
std::string plainText(const QTextDocument& document);

// Adds a viewport declaration on a new line directly after the first "<head>" of a page, unless
// the page already names a viewport or has no such tag. With `ignoreCase` the tag is found
// regardless of case (and written back as "<head>").
std::string insertViewport(std::string page, bool ignoreCase);

}  // namespace kolvex::text_writers
