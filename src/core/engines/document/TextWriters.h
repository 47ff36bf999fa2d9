#pragma once

#include <string>
#include <string_view>

#include "core/engines/document/StyledText.h"

// The text formats written from styled text. Pure functions over the text; safe from any thread.
namespace kolvex::text_writers {

// RTF: a Helvetica/Courier font table, each run with its size, bold, italic and link field;
// characters beyond ASCII as \uN with a "?" fallback. Never empty.
std::string rtf(const StyledText& text);

// An HTML page with the given title: one <p> per paragraph (empty ones hold a <br>), spaces kept
// (white-space: pre-wrap), bold, italic, monospaced text, sizes and links. Its head starts with
// "<head>" on a line of its own. Never empty.
std::string html(const StyledText& text, std::string_view title);

// Markdown: a run with a bold font becomes "**" + the run trimmed of line breaks + "**", an
// italic one "*" + … + "*" (bold wins when both), followed by one line feed when the run ended
// with one; runs without a font, or with a regular one, are copied unchanged.
std::string markdown(const StyledText& text);

// Adds a viewport declaration on a new line directly after the first "<head>" of a page, unless
// the page already names a viewport or has no such tag. With `ignoreCase` the tag is found
// regardless of case (and written back as "<head>").
std::string insertViewport(std::string page, bool ignoreCase);

}  // namespace kolvex::text_writers
