// HtmlPriv.h - what the reader, the layout and the navigation of the help
// viewer share and nobody else uses.
#pragma once

#include "html.h"

#include <string>

namespace html_internal {

// Tag codes of the tags the layout understands (HtmlKeys), TAG_OTHER for the rest.
enum TagCode {
    TAG_TEXT, // a text run (no tag)
    // Tags the layout does not know, and elements renamed to IgnoredTag: passed
    // over, while the text runs between them are laid out as usual.
    TAG_OTHER,
    TAG_P,
    TAG_END_P,
    TAG_B,
    TAG_END_B,
    TAG_FONT,
    TAG_END_FONT,
    TAG_A,
    TAG_END_A,
    TAG_TR,
    TAG_END_TR,
    TAG_BR,
    TAG_TABLE,
    // A table measured already: the element holds its HtmlTable, so that no
    // walk measures it twice.
    TAG_FITAB,
    TAG_END_TABLE,
    TAG_TD,
    TAG_END_TD,
    TAG_H,
    TAG_END_H,
    TAG_OL,
    TAG_END_OL,
    TAG_LI,
    TAG_END_LI,
    TAG_DIV,
    TAG_END_DIV,
    TAG_IMG,
    // The head's title: only the layout's title line reads it.
    TAG_TITLE,
    TAG_END_TITLE,
};

// Bytes of its file a page came from (from its html tag to the next page's),
// 0 for a page that no file scan made.
long PageSourceSize(const HtmlPage *page);

// The code of an element's tag (names compared without regard to case).
TagCode ClassifyTag(const HtmlElement *el);

// The tag name given to elements the layout must pass over (content of table
// rows and cells beyond the limits, frames of tables nested too deep).
extern char IgnoredTag[];

// 1 when text is written as UTF-8 (deciding it from the locale first).
int Utf8(void);

// Appends the text (len bytes) to out in the terminal's encoding, one cell per
// character: tab, carriage return and line feed become a space, other control
// characters are dropped, and under UTF-8 a byte that starts no valid
// sequence becomes its Latin-1 character. Returns the number of characters.
int AppendCells(std::string &out, const char *text, int len);
// Writes the UTF-8 form of the character cp at out; returns its length (1 to 4).
int PutUtf8(char *out, unsigned cp);

// The number of characters AppendCells would append.
int CountCells(const char *text, int len);

// Jumps to a page or anchor of the current file (a leading "#" is skipped),
// pushing the history; a name found nowhere changes nothing.
void GoToTarget(const char *target);

// Set when ProcessLink could not load the file a link names (it printed why).
extern bool LinkFailed;

} // namespace html_internal
