// Page layout: the element lists of a page become plain text. The layout
// writes into a working image of rows, each row one line of any length held
// in the terminal's encoding, addressed by character columns; writing past a
// row's end pads it with spaces, and rows are added as the layout reaches
// them, so no input can make it write outside the image. Text is never
// wrapped. Tables are measured first (column widths, row heights), then their
// frame is drawn and their cells are filled in; measuring follows exactly the
// steps the layout will take, so cell text always fits its column.
#include "HtmlPriv.h"

#include "MemMgr.h"
#include "utils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <unordered_set>
#include <vector>

using namespace html_internal;

namespace {

// Help files give table and cell widths, spacing and padding in pixels, as a
// graphical browser reads them; the terminal counts characters. A character
// cell of the browsers' usual fixed font is about 7 pixels wide, so that a
// table sized for a browser window takes about the same share of 80 columns.
constexpr long PIXELS_PER_CHAR = 7;

// One line of the working image.
// Rows grow as text lands in them; no row is ever shorter than what was written
// at its right end, so columns line up whatever came first.
struct Row {
    std::string text;  // its characters in the terminal's encoding
    int32_t chars = 0; // number of characters in text
};

// The working image and what the layout of one page keeps between calls.
// One image at a time: a page is laid out whole before the next one starts, and
// tables within it write into the same image at their own place.
struct LayoutState {
    HtmlPage *page = nullptr; // page the image belongs to, null when none is held
    std::vector<Row> rows;    // the image, one entry per row
    int lastRow = 0;          // row the body walk ended on
    int depth = 0;            // tables being measured within each other
    std::string cells;        // scratch: a text in the terminal's encoding
    long limit = 0;           // bytes the image may take (HtmlLayoutLimit less the note's room)
    long used = 0;            // bytes it takes: the rows' texts and a line end per row
    bool cut = false;         // a write was left out to keep within the limit
    std::unordered_set<const HtmlPage *> cutPages; // pages whose text was cut
};
LayoutState S;

// Room kept for the line that ends a cut page.
constexpr long NOTE_ROOM = 128;

// A measured table's tag is renamed to this, so that its element says by its
// name alone that pData holds an HtmlTable; writable, as element tags are.
char FitabTag[] = "fitab";

// Byte offset of character column col (at most the row's length) in the row.
// A row of one byte per character (every row without UTF-8) is addressed
// directly; only rows with wider characters are walked.
size_t ByteOffset(const Row &r, int col) {
    if (r.text.size() == static_cast<size_t>(r.chars)) return static_cast<size_t>(col);
    size_t b = 0, size = r.text.size();
    for (int c = 0; c < col && b < size; ++c)
        b = Utf8NextChar(r.text.data(), size, b);
    return b;
}

// True when the image may grow by `more` bytes; else the page is cut there:
// this write and every later one that would add to the image are left out
// (writes over what stands, a cell's text in its drawn frame, still go in),
// so that no page (a wide cell above a thousand rows pads every row to its
// width) takes more memory or text than a bounded multiple of its source.
bool Grow(long more) {
    if (more > 0 && (S.cut || S.used + more > S.limit)) {
        S.cut = true;
        return false;
    }
    S.used += more;
    return true;
}

// Writes chars characters (n bytes) at (row, col) over whatever stands there.
void Put(int row, int col, const char *bytes, size_t n, int chars) {
    if (row < 0 || col < 0 || chars <= 0) return;
    // New rows cost a line end each; the write costs the padding up to col
    // and its bytes, less what it covers.
    // The cost is known before anything changes, so a write that Grow refuses
    // leaves the row as it was.
    const long size = static_cast<long>(S.rows.size());
    const long newRows = row >= size ? row + 1 - size : 0;
    const Row *old = newRows > 0 ? nullptr : &S.rows[static_cast<size_t>(row)];
    const int oldChars = old ? old->chars : 0;
    size_t b0 = 0, b1 = 0;
    int endCol = 0;
    long more = newRows;
    if (oldChars <= col) { // the usual case: at or past the end of the row
        more += static_cast<long>(col - oldChars) + static_cast<long>(n);
    } else {
        endCol = std::min(col + chars, oldChars);
        b0 = ByteOffset(*old, col), b1 = ByteOffset(*old, endCol);
        more += static_cast<long>(n) - static_cast<long>(b1 - b0);
    }
    if (!Grow(more)) return;
    if (newRows > 0) S.rows.resize(static_cast<size_t>(row) + 1);
    Row &r = S.rows[static_cast<size_t>(row)];
    if (r.chars <= col) {
        r.text.append(static_cast<size_t>(col - r.chars), ' ');
        r.text.append(bytes, n);
        r.chars = col + chars;
        return;
    }
    // Writing over what stands: how cells fill the frame drawn before them.
    r.text.replace(b0, b1 - b0, bytes, n);
    r.chars = col + chars + (r.chars - endCol);
}

// A layout position.
struct Pen {
    int row = 0;
    int col = 0;
};

// Writes a text run (len bytes) at the pen and moves the pen behind it.
void PrintText(Pen &pen, const char *text, int len) {
    // One scratch string for every run: a page writes thousands of runs, and
    // the image copies each one anyway.
    S.cells.clear();
    int chars = AppendCells(S.cells, text, len);
    Put(pen.row, pen.col, S.cells.data(), S.cells.size(), chars);
    pen.col += chars;
}

// Writes count copies of the ASCII character c at (row, col): frames and
// blank areas, which cost one byte per character.
void PrintFill(int row, int col, char c, int count) {
    if (count <= 0) return;
    S.cells.assign(static_cast<size_t>(count), c);
    Put(row, col, S.cells.data(), S.cells.size(), count);
}

// The list item number as it is written before the item.
// Both walks write the label through this, so its width is counted as written.
int ItemLabel(char *buf, size_t size, int n) {
    return snprintf(buf, size, "   %i. ", n);
}

// The bytes of a text element; an element whose record Ignore gave back has
// none.
int TextLen(const HtmlElement *el) {
    return el->pData ? static_cast<int>(strlen(static_cast<const char *>(el->pData))) : 0;
}

// Makes the layout pass over an element, giving back the record it holds.
// The record goes at once: FreeElements would no longer know the element by its
// new name.
void Ignore(HtmlElement *el) {
    TagCode code = ClassifyTag(el);
    if (code == TAG_A) {
        PutMem(el->pData);
        el->pData = nullptr;
    } else if (code == TAG_FITAB && el->pData) {
        auto *t = static_cast<HtmlTable *>(el->pData);
        PutMem(t->pRowHeights);
        PutMem(t->pColWidths);
        PutMem(t);
        el->pData = nullptr;
    }
    el->pTag = IgnoredTag;
}

// The node behind the /table that closes the table whose elements start at n.
// Tables within are counted, so that their /table does not end the skip early.
ListNode *SkipTable(ListNode *n) {
    int depth = 0;
    for (; n; n = n->pNext) {
        TagCode code = ClassifyTag(static_cast<HtmlElement *>(n->pData));
        if (code == TAG_TABLE || code == TAG_FITAB) ++depth;
        if (code == TAG_END_TABLE && depth-- == 0) return n->pNext;
    }
    return nullptr;
}

// Rewrites the table whose tag element is at n so the layout passes over it:
// all its elements with whole set, else only the tags that build tables, so
// that its text joins the cell around it. Returns the node behind its /table.
ListNode *IgnoreTable(ListNode *n, bool whole) {
    int depth = 0;
    for (; n; n = n->pNext) {
        auto *el = static_cast<HtmlElement *>(n->pData);
        TagCode code = ClassifyTag(el);
        bool structure = code == TAG_TABLE || code == TAG_FITAB || code == TAG_END_TABLE ||
                         code == TAG_TR || code == TAG_END_TR || code == TAG_TD ||
                         code == TAG_END_TD;
        // A table nested too deep keeps its text, which is the page's content;
        // only its frame is too much for the page.
        if (whole || structure) Ignore(el);
        if (code == TAG_TABLE || code == TAG_FITAB) ++depth;
        if (code == TAG_END_TABLE && --depth == 0) return n->pNext;
    }
    return nullptr;
}

// Number of columns of the table whose elements start at n: the largest
// number of cells in one of its rows (nested tables not counted), at most
// HTML_MAX_TABLE_CELLS.
// Counted before measuring: the column arrays are sized once, and a cell past
// the count is one past the limit.
int GetColumnCnt(ListNode *n) {
    int depth = 0, count = 0, most = 0;
    for (; n; n = n->pNext) {
        TagCode code = ClassifyTag(static_cast<HtmlElement *>(n->pData));
        if (code == TAG_TABLE || code == TAG_FITAB) {
            ++depth;
        } else if (code == TAG_END_TABLE) {
            if (depth-- == 0) break;
        } else if (depth == 0) {
            if (code == TAG_TR || code == TAG_END_TR) {
                most = std::max(most, count);
                count = 0;
            } else if (code == TAG_TD) {
                ++count;
            }
        }
    }
    return std::min(std::max(most, count), HTML_MAX_TABLE_CELLS);
}

// A number in an attribute value, read as atoi reads it but saturating.
// Saturating keeps the products of widths and shares well within a long,
// whatever a file asks for.
long AttrNumber(const char *s) {
    while (*s == ' ' || *s == '\t')
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        v = std::min(v * 10 + (*s - '0'), 10000000L);
    return negative ? -v : v;
}

// The attributes of a table tag that measuring needs.
struct TableAttrs {
    bool border = false;
    long borderPx = 0, spacingPx = 0, paddingPx = 0;
    std::string width; // the width value without a leading double quote, empty when none
};

// Splits an attribute text at white space into name=value pieces and calls
// fn(name, value) for each (value null when the piece has no "=").
// Works on a copy, so that the element's attribute text stays whole for whoever
// reads it next.
template <class Fn> void ForEachAttr(const char *text, Fn fn) {
    std::string copy = text ? text : "";
    char *p = copy.data();
    while (*p) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
            ++p;
        if (!*p) break;
        char *piece = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            ++p;
        if (*p) *p++ = '\0';
        char *eq = strchr(piece, '=');
        if (eq) *eq = '\0';
        fn(piece, eq ? eq + 1 : nullptr);
    }
}

TableAttrs ReadTableAttrs(const char *text) {
    TableAttrs a;
    ForEachAttr(text, [&](const char *name, const char *value) {
        if (strcasecmp(name, "border") == 0) {
            a.border = true;
            // A bare border attribute is a frame of one pixel, as browsers read
            // it.
            a.borderPx = value ? AttrNumber(value) : 1;
        } else if (value && strcasecmp(name, "cellspacing") == 0) {
            a.spacingPx = AttrNumber(value);
        } else if (value && strcasecmp(name, "cellpadding") == 0) {
            a.paddingPx = AttrNumber(value);
        } else if (value && strcasecmp(name, "width") == 0) {
            // Only the opening quote is taken off: AttrNumber stops at the
            // closing one, and a share keeps its '%'.
            a.width = value[0] == '"' ? value + 1 : value;
        }
    });
    return a;
}

// The width value of a td tag's attribute text; empty when none.
std::string CellWidth(const char *text) {
    std::string width;
    ForEachAttr(text, [&](const char *name, const char *value) {
        if (value && strcasecmp(name, "width") == 0) width = value[0] == '"' ? value + 1 : value;
    });
    return width;
}

// Every size a file gives is clamped before use, so no table can ask for more
// than the layout's limits allow.
long Clamp(long v, long lo, long hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

HtmlTable *MeasureTable(HtmlElement *el, ListNode *first, int avail, ListNode **after);

// Where a walk over elements stands in its table and in the cell's text. The
// same tags drive measuring and layout, so both keep these the same way.
struct CellWalk {
    HtmlTable *t = nullptr; // the table walked; null: the page's body (layout only)
    int cellIdx = -1;       // current cell of the row
    bool rowOpen = false;   // a row has begun and not ended
    bool inCell = false;    // elements land in a cell (outside one they are passed over)
    bool lineUsed = false;  // something was written on this line of the cell
    bool ol = false;        // inside an ordered list: li writes the next number
    int olCount = 0;        // the last number written
    bool inHref = false;    // inside a link with a target: /a writes its closing '>'
};

// Rows and cells past the limits, passed over up to where they end.
enum Skip { SKIP_NONE, SKIP_CELL, SKIP_ROWS };

// The content tags of HandleTag (below): text, line breaks, links, lists,
// tables.
template <class Walk> void HandleContent(Walk &w, ListNode *node, HtmlElement *e, TagCode code) {
    switch (code) {
    case TAG_TEXT:
        w.Write(static_cast<const char *>(e->pData), TextLen(e));
        break;
    case TAG_P: // a paragraph's blank line only outside tables, whose rows are tight
        if (!w.t) w.NewLine(), w.NewLine();
        break;
    case TAG_END_P:
        if (!w.t) w.NewLine();
        break;
    case TAG_BR:
    case TAG_H:
    case TAG_DIV:
        w.NewLine();
        break;
    case TAG_END_H:
    case TAG_END_DIV:
        w.NewLine();
        w.NewLine();
        break;
    case TAG_A:
        if (auto *link = static_cast<HtmlLink *>(e->pData)) {
            w.LinkStart(link);
            if (link->Kind == HTML_LINK_HREF) {
                w.Write("<", 1);
                w.inHref = true;
            }
        }
        break;
    case TAG_END_A:
        if (w.inHref) w.Write(">", 1);
        w.inHref = false;
        w.LinkEnd();
        break;
    case TAG_OL:
        w.ol = true;
        w.olCount = 0;
        break;
    case TAG_END_OL:
        w.ol = false;
        w.NewLine();
        break;
    case TAG_LI:
        if (w.ol) {
            char label[32];
            w.NewLine();
            w.Write(label, ItemLabel(label, sizeof label, ++w.olCount));
        }
        break;
    case TAG_TABLE:
        w.Table(node, e);
        break;
    case TAG_FITAB:
        w.Fitab(e);
        break;
    default:
        break;
    }
}

// The one tag handler of both walks. A walk supplies what differs: writing
// (counting characters or putting them in the image), rows and cells (whose
// sizes measuring finds and layout uses), links and tables within. Returns
// false at the /table that ends the walk's table.
//
// Measuring must take exactly the steps the layout takes, or cell text would
// not fit its column: keeping a single switch keeps them in step.
template <class Walk> bool HandleTag(Walk &w, ListNode *node) {
    auto *e = static_cast<HtmlElement *>(node->pData);
    TagCode code = ClassifyTag(e);
    if (w.t) {
        switch (code) {
        case TAG_TR:
            if (!w.OpenRow()) w.Refuse(e, SKIP_ROWS);
            return true;
        case TAG_TD:
            if (!w.rowOpen && !w.OpenRow())
                w.Refuse(e, SKIP_ROWS);
            else if (!w.OpenCell(e))
                w.Refuse(e, SKIP_CELL);
            return true;
        case TAG_END_TR:
            w.CloseRow();
            return true;
        case TAG_END_TABLE:
            return false;
        default:
            if (!w.inCell) { // only cells hold content
                w.OutsideCells(node, code);
                return true;
            }
        }
    }
    HandleContent(w, node, e, code);
    return true;
}

// Measuring of one table: a walk over its elements that counts what the
// layout will write in each cell.
struct Measure : CellWalk {
    ListNode *next = nullptr; // where the walk goes on after the element handled
    long tableWidth = 0;      // width the table asks for, 0 when none
    std::vector<int32_t> colWidths, rowHeights;
    std::vector<int32_t> fixed;      // width a column's first cell asks for, -1 when none
    std::vector<unsigned char> seen; // a cell of the column has been met
    long fixedTotal = 0;             // sum of the fixed widths
    int rowHeight = 0;               // lines of the tallest cell of the row so far
    // the current cell, relative to its top-left corner
    int line = 0, x = 0, used = 0, widest = 0;
    Skip skip = SKIP_NONE; // what is being passed over
    int skipDepth = 0;     // tables opened within what is passed over

    // Counts what Body::Write would put in the image; the cell is as wide as
    // its widest line and as tall as its last line with text.
    void Write(const char *text, int len) {
        x += CountCells(text, len);
        lineUsed = true;
        used = std::max(used, line + 1);
        widest = std::max(widest, x);
    }
    void NewLine() {
        ++line;
        x = 0;
        lineUsed = false;
    }
    // A cell's size counts for its column and row when it ends: the next td,
    // tr or /table ends it, since files often leave out the /td.
    void CloseCell() {
        if (!inCell) return;
        colWidths[static_cast<size_t>(cellIdx)] =
            std::max(colWidths[static_cast<size_t>(cellIdx)], widest);
        rowHeight = std::max(rowHeight, used);
        inCell = false;
    }
    // An ended row's height is final: a row is as tall as its tallest cell,
    // which the layout then finds in pRowHeights.
    void CloseRow() {
        CloseCell();
        if (rowOpen) rowHeights.push_back(rowHeight);
        rowOpen = false;
    }
    // Opens a row; false when the table already has as many rows as it may.
    bool OpenRow() {
        CloseRow();
        if (rowHeights.size() >= static_cast<size_t>(HTML_MAX_TABLE_CELLS)) return false;
        rowOpen = true;
        cellIdx = -1;
        rowHeight = 0;
        return true;
    }
    bool OpenCell(const HtmlElement *td);
    // A row or cell past the limits: it and what follows up to its end are
    // rewritten so that the layout passes over them too.
    void Refuse(HtmlElement *e, Skip what) {
        skip = what;
        Ignore(e);
    }
    // A table between the cells has no place: it is dropped whole.
    void OutsideCells(ListNode *node, TagCode code) {
        if (code == TAG_TABLE || code == TAG_FITAB) next = IgnoreTable(node, true);
    }
    void LinkStart(HtmlLink *) {}
    void LinkEnd() {}
    void Table(ListNode *node, HtmlElement *e);
    // Measured before: take its size and pass over it.
    void Fitab(HtmlElement *e) {
        if (e->pData) PlaceTable(static_cast<HtmlTable *>(e->pData));
        next = SkipTable(next);
    }
    // A measured table placed in the current cell at the cell's left column.
    void PlaceTable(const HtmlTable *nt) {
        int top = lineUsed ? line + 1 : line;
        used = std::max(used, top + nt->Height);
        widest = std::max(widest, static_cast<int>(nt->Width));
        line = top + nt->Height;
        x = 0;
        lineUsed = false;
    }
    bool Skipped(HtmlElement *e, TagCode code);
};

// Opens the next cell of the row; false past the table's last column. The
// first cell of a column may fix its width, in pixels or as a share of the
// table's.
bool Measure::OpenCell(const HtmlElement *td) {
    CloseCell();
    if (++cellIdx >= t->ColCnt) return false;
    size_t c = static_cast<size_t>(cellIdx);
    if (!seen[c]) {
        seen[c] = 1;
        std::string w = CellWidth(static_cast<const char *>(td->pData));
        if (tableWidth > 0 && !w.empty()) {
            long v =
                w.find('%') != std::string::npos
                    ? tableWidth * Clamp(AttrNumber(w.c_str()), 0, 100) / 100 - 2L * t->Padding - 1
                    : AttrNumber(w.c_str()) / PIXELS_PER_CHAR;
            v = Clamp(v, 0, HTML_MAX_TABLE_WIDTH - fixedTotal);
            fixed[c] = static_cast<int32_t>(v);
            fixedTotal += v;
        }
    }
    inCell = true;
    line = x = used = widest = 0;
    lineUsed = false;
    return true;
}

// A table within a cell is measured now, as wide as its column is fixed, and
// marked measured so that the layout takes its size; one nested too deep
// loses its frame and its text joins this cell.
void Measure::Table(ListNode *node, HtmlElement *e) {
    if (S.depth >= HTML_MAX_TABLE_DEPTH) {
        IgnoreTable(node, false);
        return;
    }
    int32_t fixedWidth = fixed[static_cast<size_t>(cellIdx)];
    HtmlTable *nt = MeasureTable(e, next, fixedWidth > 0 ? fixedWidth : 0, &next);
    if (nt) {
        e->pTag = FitabTag;
        e->pData = nt;
        PlaceTable(nt);
    }
}

// True when the element lies in a row or cell passed over: it is rewritten
// so the layout passes over it too. What is passed over ends at the table's
// /table (tables within it counted), a cell also at the next cell or row.
bool Measure::Skipped(HtmlElement *e, TagCode code) {
    if (skip == SKIP_NONE) return false;
    bool ends = skipDepth == 0 &&
                (code == TAG_END_TABLE ||
                 (skip == SKIP_CELL && (code == TAG_TD || code == TAG_TR || code == TAG_END_TR)));
    if (ends) {
        skip = SKIP_NONE;
        return false;
    }
    if (code == TAG_TABLE || code == TAG_FITAB) ++skipDepth;
    if (code == TAG_END_TABLE) --skipDepth;
    Ignore(e);
    return true;
}

// A new table record with what the table tag gives: frame, spacing, padding
// and the number of columns; m gets the width the table asks for (of avail
// columns, when given as a share) and a zero width for each column.
HtmlTable *BeginTable(HtmlElement *el, ListNode *first, int avail, Measure &m) {
    auto *t = static_cast<HtmlTable *>(GetMem(sizeof(HtmlTable)));
    if (!t) return nullptr;
    TableAttrs a = ReadTableAttrs(static_cast<const char *>(el->pData));
    // Spacing and padding are kept in characters: the layout never sees pixels.
    t->Gap = 1;
    t->Border = a.border ? 1 : 0;
    t->ColCnt = GetColumnCnt(first);
    t->Spacing = static_cast<int32_t>(Clamp(a.spacingPx / PIXELS_PER_CHAR, 0, HTML_MAX_TABLE_PAD));
    t->Padding = static_cast<int32_t>(Clamp(a.paddingPx / PIXELS_PER_CHAR, 0, HTML_MAX_TABLE_PAD));
    m.t = t;
    if (!a.width.empty()) {
        long w = AttrNumber(a.width.c_str());
        long cols = t->ColCnt;
        if (a.width.find('%') != std::string::npos)
            m.tableWidth = avail > 0 ? avail * Clamp(w, 0, 1000) / 100 : 0;
        else // the pixels of padding, spacing and borders are not the columns'
            m.tableWidth = (w - 2 * a.paddingPx * cols - (cols + 1) * (a.spacingPx + a.borderPx)) /
                           PIXELS_PER_CHAR;
        m.tableWidth = Clamp(m.tableWidth, 0, HTML_MAX_TABLE_WIDTH);
    }
    size_t cols = static_cast<size_t>(t->ColCnt);
    m.colWidths.assign(cols, 0);
    // -1 tells a column no cell fixed from a column fixed at 0 characters.
    m.fixed.assign(cols, -1);
    m.seen.assign(cols, 0);
    return t;
}

// Walks the table's elements from first to its /table; returns the node
// behind the /table, null when the elements end first.
ListNode *MeasureCells(Measure &m, ListNode *first) {
    for (ListNode *n = first; n; n = m.next) {
        auto *e = static_cast<HtmlElement *>(n->pData);
        m.next = n->pNext;
        if (m.Skipped(e, ClassifyTag(e))) continue;
        if (!HandleTag(m, n)) {
            m.CloseRow();
            return m.next;
        }
    }
    m.CloseRow();
    return nullptr;
}

// The table's width and height from its measured columns and rows, and its
// arrays of column widths and row heights.
void StoreSizes(Measure &m) {
    HtmlTable *t = m.t;
    size_t cols = static_cast<size_t>(t->ColCnt);
    // A table's width is its columns with their padding, one separator between
    // each two and one frame column on either side.
    long natural = 2L * t->Padding * t->ColCnt + t->ColCnt + 1;
    for (size_t c = 0; c < cols; ++c) {
        if (m.fixed[c] >= 0) m.colWidths[c] = std::max(m.colWidths[c], m.fixed[c]);
        natural += m.colWidths[c];
    }
    // A table asked to be wider than its columns gives the rest to its last
    // column; one asked to be narrower grows to fit its text.
    if (m.tableWidth > natural && cols > 0) {
        m.colWidths[cols - 1] += static_cast<int32_t>(m.tableWidth - natural);
        natural = m.tableWidth;
    }
    t->Width = static_cast<int32_t>(std::max(natural, m.tableWidth));
    t->RowCnt = static_cast<int32_t>(m.rowHeights.size());
    // One separator line above each row and one below the last.
    long height = t->RowCnt + 1;
    for (int32_t h : m.rowHeights)
        height += h;
    t->Height = static_cast<int32_t>(height);
    t->pRowHeights = static_cast<int32_t *>(GetMem(static_cast<long>(sizeof(int32_t)) * t->RowCnt));
    t->pColWidths = static_cast<int32_t *>(GetMem(static_cast<long>(sizeof(int32_t)) * t->ColCnt));
    if ((t->RowCnt && !t->pRowHeights) || (t->ColCnt && !t->pColWidths)) {
        // Without room for its arrays the table is shown without rows.
        PutMem(t->pRowHeights);
        PutMem(t->pColWidths);
        t->pRowHeights = t->pColWidths = nullptr;
        t->RowCnt = t->ColCnt = 0;
        t->Height = 1;
        return;
    }
    if (t->RowCnt)
        memcpy(t->pRowHeights, m.rowHeights.data(), sizeof(int32_t) * m.rowHeights.size());
    if (t->ColCnt) memcpy(t->pColWidths, m.colWidths.data(), sizeof(int32_t) * cols);
}

// Takes the table's attributes, walks its elements from first to its /table
// and stores its record. *after gets the node behind the /table.
HtmlTable *MeasureTable(HtmlElement *el, ListNode *first, int avail, ListNode **after) {
    *after = nullptr;
    Measure m;
    HtmlTable *t = BeginTable(el, first, avail, m);
    if (!t) return nullptr;
    // Counted while the cells are walked, so that a table within knows how deep
    // it stands.
    ++S.depth;
    *after = MeasureCells(m, first);
    StoreSizes(m);
    --S.depth;
    return t;
}

// The page being laid out: the viewer's current page, which the navigation
// sets for each page it lays out.
HtmlPage *Page() {
    return pCurrentPage;
}

// The layout of one body walk: the whole body, or one table's elements.
struct Body : CellWalk {
    HtmlFile *f;
    Pen pen;
    int cellLeft = 0;             // left column of the current cell
    int rowTop = 0;               // top row of the current table row
    int rowIdx = -1;              // current table row
    HtmlLink *lastLink = nullptr; // the link of the last a tag, until its /a

    // Within a table a line starts at the cell's left column: the cell's text
    // never runs into its neighbour's, as its width was measured.
    void NewLine() {
        ++pen.row;
        pen.col = t ? cellLeft : 0;
        lineUsed = false;
    }
    void Write(const char *text, int len) {
        PrintText(pen, text, len);
        lineUsed = true;
    }
    // The next row starts below the tallest cell of this one, whatever this
    // row's cells wrote: the separator line sits where measuring put it.
    void CloseRow() {
        if (!rowOpen) return;
        rowOpen = inCell = false;
        rowTop += t->pRowHeights[rowIdx] + 1; // past the separator line
        pen.row = rowTop;
    }
    // False past the rows measuring counted: those were rewritten to be
    // passed over; a table left without its arrays has no rows at all.
    bool OpenRow() {
        CloseRow();
        if (rowIdx + 1 >= t->RowCnt) return false;
        ++rowIdx;
        rowOpen = true;
        cellIdx = -1;
        pen.row = rowTop;
        pen.col = t->Left + 1;
        cellLeft = t->Left + t->Padding + 1;
        return true;
    }
    // A cell's left column is the sum of the columns before it, each with its
    // padding on both sides and one column for the separator.
    bool OpenCell(const HtmlElement *) {
        inCell = false;
        if (++cellIdx >= t->ColCnt) return false;
        if (cellIdx > 0) cellLeft += t->pColWidths[cellIdx - 1] + 2 * t->Padding + 1;
        pen.row = rowTop;
        pen.col = cellLeft;
        inCell = true;
        lineUsed = false;
        return true;
    }
    // Measuring rewrote what lies past the limits: nothing is left to refuse.
    void Refuse(HtmlElement *, Skip) {}
    void OutsideCells(ListNode *, TagCode) {}
    void LinkStart(HtmlLink *link) {
        link->Start = pen.row;
        link->End = pen.col;
        link->TextLen = 0;
        lastLink = link;
    }
    void LinkEnd();
    // A table not measured yet (one at the top level) is measured here, as
    // wide as the cell it stands in; one measured before keeps its sizes.
    void Table(ListNode *, HtmlElement *e) {
        if (ol) NewLine();
        int avail = t && cellIdx >= 0 && cellIdx < t->ColCnt ? t->pColWidths[cellIdx] : 0;
        if (HtmlTable *nt = GetTextTable(f, e, avail)) PlaceTable(nt);
    }
    void Fitab(HtmlElement *e) {
        if (e->pData) PlaceTable(static_cast<HtmlTable *>(e->pData));
    }
    void PlaceTable(HtmlTable *nt);
};

// Lays out a measured table at the position the layout has reached: its walk
// goes on over the table's elements up to its /table.
void Body::PlaceTable(HtmlTable *nt) {
    if (t) {
        nt->Left = cellLeft;
        nt->Top = lineUsed ? pen.row + 1 : pen.row;
    } else {
        nt->Left = pen.col;
        nt->Top = pen.row;
    }
    BuildTextBody(f, nt, nt->Top, nt->Left);
    pen.row = nt->Top + nt->Height;
    pen.col = t ? cellLeft : nt->Left;
    lineUsed = false;
}

// The link of the last a tag ends: its length on the screen is what was
// written since, on its first line only (the menu shows that line).
void Body::LinkEnd() {
    HtmlLink *link = lastLink;
    if (!link) return;
    lastLink = nullptr;
    if (pen.row == link->Start) {
        link->TextLen = std::max(0, pen.col - link->End);
    } else { // the link went on to another line: its first line counts
        const Row *r = static_cast<size_t>(link->Start) < S.rows.size()
                           ? &S.rows[static_cast<size_t>(link->Start)]
                           : nullptr;
        link->TextLen = r ? std::max(0, r->chars - link->End) : 0;
    }
    ListPushItem(&Page()->Links, &link, sizeof link);
}

// The final text of the image: one line per row below lineCnt, each ended by
// "\n", with the links' offsets; the image is let go afterwards.
void Compact(HtmlPage *page) {
    // The page ends where the body walk ended or at the last row with text,
    // whichever lies further down: a table's frame may reach below the walk's
    // end.
    int lineCnt = S.lastRow;
    for (int r = static_cast<int>(S.rows.size()) - 1; r >= lineCnt; --r)
        if (S.rows[static_cast<size_t>(r)].chars > 0) {
            lineCnt = r + 1;
            break;
        }
    if (static_cast<size_t>(lineCnt) > S.rows.size()) {
        // Empty rows below the last one written cost their line ends; a cut
        // page ends at its last row.
        if (S.cut || !Grow(lineCnt - static_cast<long>(S.rows.size())))
            lineCnt = static_cast<int>(S.rows.size());
        S.rows.resize(static_cast<size_t>(lineCnt));
    }
    char note[NOTE_ROOM] = "";
    if (S.cut) {
        snprintf(note, sizeof note,
                 "[The rest of this page is left out: its text would pass %ld bytes.]\n",
                 HtmlLayoutLimit(page));
        S.cutPages.insert(page);
    }
    // The note takes the room kept for it below the limit, so a cut page still
    // ends by saying why.
    const long noteLen = static_cast<long>(strlen(note));
    std::vector<long> starts(static_cast<size_t>(lineCnt) + 1);
    long total = 0;
    for (int r = 0; r < lineCnt; ++r) {
        starts[static_cast<size_t>(r)] = total;
        total += static_cast<long>(S.rows[static_cast<size_t>(r)].text.size()) + 1;
    }
    starts[static_cast<size_t>(lineCnt)] = total;
    auto *text = static_cast<char *>(GetMem(total + noteLen > 0 ? total + noteLen : 1));
    if (text) {
        char *p = text;
        for (int r = 0; r < lineCnt; ++r) {
            const std::string &line = S.rows[static_cast<size_t>(r)].text;
            memcpy(p, line.data(), line.size());
            p += line.size();
            *p++ = '\n';
        }
        memcpy(p, note, static_cast<size_t>(noteLen));
        p += noteLen;
        *p = '\0';
    }
    // The front end finds links by offsets in the final text: rows and columns
    // become byte offsets here. A link whose row was cut away gets an empty
    // range at the text's end, which no position falls into.
    for (ListNode *n = page->Links.pHead; n; n = n->pNext) {
        HtmlLink *link = *static_cast<HtmlLink **>(n->pData);
        int row = link->Start, col = link->End;
        if (!text || row < 0 || row >= lineCnt) {
            link->Start = link->End = static_cast<int32_t>(text ? total : 0);
            continue;
        }
        const Row &r = S.rows[static_cast<size_t>(row)];
        int from = std::min(std::max(col, 0), static_cast<int>(r.chars));
        int to = std::min(from + std::max(link->TextLen, 0), static_cast<int>(r.chars));
        link->Start = static_cast<int32_t>(starts[static_cast<size_t>(row)] +
                                           static_cast<long>(ByteOffset(r, from)));
        link->End = static_cast<int32_t>(starts[static_cast<size_t>(row)] +
                                         static_cast<long>(ByteOffset(r, to)));
    }
    page->pText = text;
    page->LineCnt = lineCnt + (noteLen > 0 ? 1 : 0);
    // Swapped out rather than cleared: a large page's image would otherwise
    // keep its memory until the next page.
    std::vector<Row>().swap(S.rows);
    S.page = nullptr;
}

} // namespace

// The body list's walk cursor is shared by the walks within each other: a
// table's walk leaves it behind the table's /table, where the walk around it
// goes on.
void BuildTextBody(HtmlFile *f, HtmlTable *t, int row, int col) {
    HtmlPage *page = Page();
    if (!page) return;
    Body b;
    b.f = f;
    b.t = t;
    if (t) {
        // The frame first: cell text then writes over the frame's blank inside,
        // never the other way round.
        DrawTableArea(f, t);
        b.rowTop = t->Top + 1;
        b.pen = {t->Top + 1, t->Left + 1};
        b.cellLeft = t->Left + t->Padding + 1;
        for (ListNode *n = page->Body.pWalk; n; n = page->Body.pWalk) {
            ListWalk(&page->Body, 1);
            if (!HandleTag(b, n)) break;
        }
        return;
    }
    b.pen = {row, col};
    page->Body.pWalk = page->Body.pHead;
    for (ListNode *n = page->Body.pWalk; n; n = page->Body.pWalk) {
        ListWalk(&page->Body, 1);
        HandleTag(b, n);
    }
    S.lastRow = b.pen.row;
    page->LineCnt = b.pen.row;
}

void BuildTextImage(HtmlFile *f) {
    HtmlPage *page = Page();
    if (!page) return;
    S.page = page;
    S.rows.clear();
    S.limit = HtmlLayoutLimit(page) - NOTE_ROOM;
    S.used = 0;
    S.cut = false;
    S.cutPages.erase(page);
    // Most elements add a row at most; the limit keeps a huge page from
    // reserving past what it may take.
    S.rows.reserve(static_cast<size_t>(std::min<long>(page->Body.Count, S.limit)));
    S.lastRow = 0;
    ListDelAllItems(&page->Links);
    int row = 0;
    bool inTitle = false;
    for (ListNode *n = page->Head.pHead; n; n = n->pNext) {
        auto *e = static_cast<HtmlElement *>(n->pData);
        TagCode code = ClassifyTag(e);
        if (code == TAG_TITLE) inTitle = true;
        if (code == TAG_END_TITLE) inTitle = false;
        if (code != TAG_TEXT || !inTitle) continue;
        // Centred in 80 columns, counted in characters.
        const char *text = static_cast<const char *>(e->pData);
        int chars = CountCells(text, TextLen(e));
        Pen pen = {row, chars < 80 ? (80 - chars) / 2 : 0};
        if (pen.col > 0) PrintFill(row, 0, ' ', pen.col);
        PrintText(pen, text, TextLen(e));
        row += 2;
    }
    BuildTextBody(f, nullptr, row, 0);
}

// In proportion to the page's source, so that a long page is never cut for
// its length alone, only for a layout out of proportion to it.
long HtmlLayoutLimit(const HtmlPage *page) {
    return std::max(HTML_LAYOUT_FACTOR * PageSourceSize(page), HTML_LAYOUT_MIN);
}

// Cut pages are remembered beside the page records rather than in them: the
// records' layout belongs to the library's callers.
int HtmlPageCut(const HtmlPage *page) {
    return page && page->pText && S.cutPages.count(page) ? 1 : 0;
}

void PrintTextImage(HtmlFile *f) {
    HtmlPage *page = Page();
    if (!page || page->pText) return;
    // An image built by a caller's own BuildTextImage is kept and only
    // compacted.
    if (S.page != page) BuildTextImage(f);
    Compact(page);
}

HtmlTable *GetTextTable(HtmlFile * /*f*/, HtmlElement *table, int avail) {
    HtmlPage *page = Page();
    if (!page || !table) return nullptr;
    // The table's elements follow its tag: normally the body walk stands just
    // behind it; otherwise the tag is looked up in the body.
    ListNode *first = page->Body.pWalk;
    if (!(first && first->pPrev && first->pPrev->pData == table)) {
        ListNode *n = page->Body.pHead;
        while (n && n->pData != table)
            n = n->pNext;
        first = n ? n->pNext : nullptr;
    }
    ListNode *after;
    // Marked measured in place: the walk that meets the tag next takes its
    // sizes instead of measuring it again.
    HtmlTable *t = MeasureTable(table, first, std::max(avail, 0), &after);
    if (t) {
        table->pTag = FitabTag;
        table->pData = t;
    }
    return t;
}

void DrawTableArea(HtmlFile * /*f*/, HtmlTable *t) {
    if (!t || t->Width <= 0 || t->Height <= 0) return;
    int w = t->Width;
    // Without a frame the area is still blanked: whatever the layout wrote
    // there before must not show through the table.
    if (!t->Border) {
        for (int i = 0; i < t->Height; ++i)
            PrintFill(t->Top + i, t->Left, ' ', w);
        return;
    }
    // The three kinds of line; joints lie behind each column but the last.
    std::string sep(static_cast<size_t>(w), '-'), content(static_cast<size_t>(w), ' '),
        close(static_cast<size_t>(w), '-');
    sep.front() = sep.back() = content.front() = content.back() = '|';
    close.front() = close.back() = '\'';
    long e = 0;
    for (int c = 0; c + 1 < t->ColCnt; ++c) {
        e += 2L * t->Padding + t->pColWidths[c] + 1;
        if (e > 0 && e < w - 1) {
            sep[static_cast<size_t>(e)] = close[static_cast<size_t>(e)] = '+';
            content[static_cast<size_t>(e)] = '|';
        }
    }
    int row = t->Top;
    auto put = [&](const std::string &line) { Put(row++, t->Left, line.data(), line.size(), w); };
    for (int r = 0; r < t->RowCnt; ++r) {
        put(sep);
        for (int i = 0; i < t->pRowHeights[r]; ++i)
            put(content);
    }
    put(close);
    // The top line is drawn last, over the first row's separator, so that its
    // corners are rounded like the bottom's.
    std::string first = t->RowCnt > 0 ? sep : close;
    first.front() = first.back() = ',';
    row = t->Top;
    put(first);
}
