// html.h - the help viewer's reader and page layout: HTML help files are
// loaded, split into pages, parsed into flat element lists and laid out as
// plain text with a centred title, numbered lists, links in angle brackets and
// tables drawn with ASCII characters.
//
// Lifecycle: files are loaded into the process-wide slots of aFile and stay
// loaded until the process ends; a file is parsed once. Parsing works in place
// in the file's text (tags and text runs are cut out with NUL bytes), so every
// element, link and page name points into pContent, which the file record
// owns. Each page is laid out as soon as its file is loaded; its pText then
// holds the final text, one line per row, each line ended by "\n".
//
// Characters: text is written in the terminal's encoding (flHtmlUtf8) and laid
// out by characters, so tables and centred titles line up with accented text.
// Under UTF-8 a character reference becomes its UTF-8 sequence and the file's
// text is read as UTF-8 (a byte that starts no valid sequence is taken as its
// Latin-1 character); otherwise every byte is one character and a reference
// becomes its byte. Link offsets (Start, End) count bytes of the page text,
// TextLen counts characters.
//
// Limits: 100 files per process, 1000 rows and 1000 columns per table, tables
// nested at most HTML_MAX_TABLE_DEPTH deep, a page's text at most
// HtmlLayoutLimit bytes; what lies beyond is left out. No input makes the
// layout write outside its text image, which grows as needed up to that limit.
//
// Single-threaded: the loaded files, the current page and the encoding are
// process-wide.
#pragma once

#include "List.h"

#include <cstdint>

inline constexpr int HTML_MAX_FILES = 100;        // slots of aFile
inline constexpr int HTML_MAX_TABLE_CELLS = 1000; // rows, and columns, per table
inline constexpr int HTML_MAX_TABLE_DEPTH = 16;   // tables within tables
inline constexpr int HTML_MAX_TABLE_WIDTH = 1000; // characters a width attribute may ask for
inline constexpr int HTML_MAX_TABLE_PAD = 10;     // characters of cellpadding or cellspacing
inline constexpr long HTML_LAYOUT_FACTOR =
    64; // a page's text is at most this many times its source
inline constexpr long HTML_LAYOUT_MIN = 1L << 20; // ... or this many bytes, whichever is more

// A loaded help file.
struct HtmlFile {
    char *pName;    // the name as asked for, without "file://" and "#anchor"; own copy
    char *pContent; // the whole file text, parsed in place; owned
    char *pCur;     // parse position in pContent
    List Pages;     // HtmlPage records in file order
};

// One page of a help file.
struct HtmlPage {
    char *pName;     // from the page="..." attribute of its html tag, or null
    char *pText;     // the laid-out text, null until the page is laid out
    List Head;       // HtmlElement records of the head
    List Body;       // HtmlElement records of the body
    List Links;      // items are HtmlLink pointers, in text order
    int32_t LineCnt; // lines of pText
};

// One tag or text run.
struct HtmlElement {
    char *pTag;  // tag name as written ("p", "/td", "A"), null for a text run
    void *pData; // text run: the text; tag: its attribute text; a: HtmlLink;
                 // fitab (a measured table): HtmlTable
    int32_t Len; // length of the text or attribute text as parsed
};

// Kinds of HtmlLink.
inline constexpr int HTML_LINK_NONE = 0;
inline constexpr int HTML_LINK_NAME = 1; // <a name="...">: an anchor
inline constexpr int HTML_LINK_HREF = 2; // <a href="...">: a hyperlink

// The link record of an a tag.
struct HtmlLink {
    char *pTarget;   // page or anchor name, or file name with an optional "#anchor"
    intptr_t Unused; // not used
    int32_t Start;   // while laid out: row; afterwards offset of its first byte in pText
    int32_t End;     // while laid out: column; afterwards offset behind its last byte
    int32_t TextLen; // characters the link occupies, brackets included
    int32_t Kind;    // HTML_LINK_*
};

// A measured table (the pData of a fitab element).
struct HtmlTable {
    int32_t Left, Top;     // column and row of the top-left corner
    int32_t Width, Height; // size in characters and rows, frame included
    int32_t Padding;       // cellpadding in characters
    int32_t Spacing;       // cellspacing in characters
    int32_t Gap;           // always 1: the column separator
    unsigned char Border;  // 1 when the tag has a border attribute
    int32_t *pRowHeights;  // RowCnt text lines per row (separators not counted)
    int32_t *pColWidths;   // ColCnt characters per column (padding not counted)
    int32_t RowCnt, ColCnt;
};

extern HtmlFile aFile[HTML_MAX_FILES]; // the loaded files
extern int FileIndex;                  // number of files loaded
extern int CurrentFile;                // index of the file shown
extern HtmlPage *pCurrentPage;         // the page shown, or being laid out

// 1: the terminal takes UTF-8; 0: one byte per character; -1 (the start
// value): decided from LC_ALL, LC_CTYPE or LANG (the first one set) when the
// next file is loaded.
extern int flHtmlUtf8;

// The 96 entity names of characters 160 to 255 with their semicolons, as a
// keyword list (",nbsp;,iexcl;,...,yuml;,"), and the length of each name.
extern const char HTMLKeys[];
extern const int HTMLKeySizes[96];
// The tags the layout understands, as a keyword list.
extern const char HtmlKeys[];

// Parses a help file into the next free slot of aFile: name may begin with
// "file://" and end in "#anchor" (both are cut off); content is the file's
// text (taken over by the file record, parsed in place) or null to read the
// file. Pages are not laid out and where the viewer stands does not change
// (LoadHtmlFile does both). A file already loaded under that name comes back
// as it is. Returns the file record, or null for an "http://" name, an
// unreadable or empty file, a text without an html tag, or when all 100
// slots are taken (nothing is loaded then).
HtmlFile *ParseHtmlFile(const char *name, char *content);

// Gives back every loaded file with its pages, elements, links and tables
// and empties the history: for hosts that load many help texts in turn (a
// fuzzer, tests). Content handed to ParseHtmlFile goes back to the memory
// manager if it came from there.
void HtmlFreeFiles(void);

// The loaded file of exactly that name (CurrentFile is set to it), or null.
HtmlFile *FindHtmlFile(const char *name);

// Parses elements from file->pCur into list until the closing tag "/endtag"
// (any case; not added) or the end of the text, and leaves pCur behind what
// it read. Returns null when the closing tag was met, else the file record.
HtmlFile *ParseHtml(HtmlFile *file, List *list, const char *endtag);

// Appends the element {tag, data, length of data} to list. For an a tag the
// attribute text is cut up in place and the element gets a link record.
void AddAtribute(List *list, char *tag, char *data);

// Lays out pCurrentPage if its pText is still null and makes its final text:
// pText, LineCnt, and the links' Start and End as offsets in pText.
void PrintTextImage(HtmlFile *f);

// The most bytes the laid-out text of page may take: HTML_LAYOUT_FACTOR
// times the bytes of the file the page came from, at least HTML_LAYOUT_MIN.
// A layout that would pass it (a wide table cell above many rows, say) is
// cut there: what lies beyond is left out and the text ends with the line
// "[The rest of this page is left out: its text would pass N bytes.]".
long HtmlLayoutLimit(const HtmlPage *page);
// 1 when the laid-out text of page was cut at HtmlLayoutLimit, else 0.
int HtmlPageCut(const HtmlPage *page);

// Lays out pCurrentPage into the working image: the title, then the body.
void BuildTextImage(HtmlFile *f);

// Lays out body elements from (row, col): with table null the whole body of
// pCurrentPage; with a table, that table's elements, which the body walk
// reaches next (right after its table tag), ending at its /table.
void BuildTextBody(HtmlFile *f, HtmlTable *t, int row, int col);

// Measures the table that starts at element (a table tag of pCurrentPage's
// body) for an available width of avail characters (0: none), rewrites the
// element to fitab with the new record as its data and returns the record.
// The body walk's position is kept.
HtmlTable *GetTextTable(HtmlFile *f, HtmlElement *table, int avail);

// Draws the table's frame into the working image, or blanks its area when the
// table has no border.
void DrawTableArea(HtmlFile *f, HtmlTable *t);

// ---------------------------------------------------------------------------
// Navigation between pages and files
// ---------------------------------------------------------------------------

inline constexpr int HTML_MAX_HISTORY = 100;

// One step of the history: where the viewer was.
struct HtmlHistory {
    int32_t FileIdx;   // index into aFile
    HtmlPage *pPage;   // the page
    int32_t TargetPos; // offset in that page's text
};

extern HtmlHistory History[HTML_MAX_HISTORY];
extern int HistoryI;                 // entries in use
extern int TargetPos;                // offset in the current page's text chosen or designated
extern unsigned char flBuildingFile; // set while a file loads or a link is followed

// Loads a help file for display: parses it (ParseHtmlFile, same name and
// content rules, same failures), lays out every page not laid out yet and
// makes the file current at its first page, or at the "#anchor" of the name
// (a page name or a named anchor; pushed on the history). Returns the file
// record or null.
HtmlFile *LoadHtmlFile(const char *name, char *content);

// Opens a help file (or the help text data, taken over as ParseHtmlFile
// takes it) with an empty history. Returns 1, or 0 after printing "Error
// reading HTML buffer\n" (data given) or "Error in reading HTML file <name>\n"
// on standard output; 0 without a message for a null name.
int HtmlHelp(const char *name, char *data);

// Follows the first hyperlink of the current page whose text covers the
// offset pos. Ignored while a file loads or a link is followed, and when no
// page with links is shown.
void HtmlProcessLink(int pos);

// mode 0: back to the contents (the first page of the file HtmlHelp opened),
// clearing the history; mode -1: back one step. Returns 0 and changes nothing
// when the history is empty; 1 otherwise (any other mode changes nothing).
int HtmlSetHistory(int mode);

// Follows a link: "#name" (or "thisfile#name") jumps to a page or anchor of
// the current file, pushing the history; any other target shows the first
// page of that file, loading it first, or prints "Error in reading file
// <target>\n" on standard output when it cannot be loaded (every "http://"
// target).
void ProcessLink(HtmlLink *link);
