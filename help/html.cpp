// Loading and parsing of help files. A file is split into pages at its html
// tags; each page's head and body become flat lists of elements cut out of the
// file's text in place: tags and text runs end in NUL bytes written into the
// text, and character references are decoded into the bytes they stand for,
// which are never longer than the reference itself, so the decoded run always
// fits where the reference stood.
#include "HtmlPriv.h"

#include "MemMgr.h"
#include "utils.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unordered_map>
#include <utility>
#include <vector>

using namespace html_internal;

// The loaded files, the one shown and the page on the screen are globals, as
// the viewer's callers (the terminal front end, the menu engine's help answer)
// expect; one viewer runs per process.
HtmlFile aFile[HTML_MAX_FILES];
int FileIndex = 0;
int CurrentFile = 0;
HtmlPage *pCurrentPage = nullptr;
int flHtmlUtf8 = -1;

// Keyword lists for FindToken: the leading and trailing commas let a whole-word
// search find the first and last names like any other.
const char HTMLKeys[] =
    ","
    "nbsp;,iexcl;,cent;,pound;,curren;,yen;,brvbar;,sect;,uml;,copy;,ordf;,laquo;,not;,shy;,"
    "reg;,macr;,deg;,plusmn;,sup2;,sup3;,acute;,micro;,para;,middot;,cedil;,sup1;,ordm;,"
    "raquo;,frac14;,frac12;,frac34;,iquest;,Agrave;,Aacute;,Acirc;,Atilde;,Auml;,Aring;,"
    "AElig;,Ccedil;,Egrave;,Eacute;,Ecirc;,Euml;,Igrave;,Iacute;,Icirc;,Iuml;,ETH;,Ntilde;,"
    "Ograve;,Oacute;,Ocirc;,Otilde;,Ouml;,times;,Oslash;,Ugrave;,Uacute;,Ucirc;,Uuml;,"
    "Yacute;,THORN;,szlig;,agrave;,aacute;,acirc;,atilde;,auml;,aring;,aelig;,ccedil;,"
    "egrave;,eacute;,ecirc;,euml;,igrave;,iacute;,icirc;,iuml;,eth;,ntilde;,ograve;,oacute;,"
    "ocirc;,otilde;,ouml;,divide;,oslash;,ugrave;,uacute;,ucirc;,uuml;,yacute;,thorn;,yuml;,";

const int HTMLKeySizes[96] = {
    5, 6, 5, 6, 7, 4, 7, 5, 4, 5, 5, 6, 4, 4, 4, 5, 4, 7, 5, 5, 6, 6, 5, 7, 6, 5, 5, 6, 7, 7, 7, 7,
    7, 7, 6, 7, 5, 6, 6, 7, 7, 7, 6, 5, 7, 7, 6, 5, 4, 7, 7, 7, 6, 7, 5, 6, 7, 7, 7, 6, 5, 7, 6, 6,
    7, 7, 6, 7, 5, 6, 6, 7, 7, 7, 6, 5, 7, 7, 6, 5, 4, 7, 7, 7, 6, 7, 5, 7, 7, 7, 7, 6, 5, 7, 6, 5};

const char HtmlKeys[] = ",p,/p,b,/b,font,/font,a,/a,tr,/tr,br,table,fitab,/table,td,/td,"
                        "h1,h2,h3,h4,h5,h6,/h1,/h2,/h3,/h4,/h5,/h6,ol,/ol,li,/li,div,/div,img,";

namespace {

// What the reader keeps beside the records.
// The page records are shared with callers and keep their layout, so what only
// the reader needs lives beside them, keyed by page.
struct ReaderState {
    std::unordered_map<const HtmlPage *, long> pageSource; // bytes of the file each page came from
};
ReaderState R;

} // namespace

namespace html_internal {

// The layout knows no tag of this name, so an element renamed to it is passed
// over like any unknown tag and keeps its place in the list.
char IgnoredTag[] = "!";

namespace {

// One row of the tag table: a name of HtmlKeys (plus the head's title) and its code.
struct TagName {
    const char *name;
    TagCode code;
};

// Looked up by first letter and length before the comparison: the layout
// classifies every element of every page, and most are text or a handful of
// tags.
const TagName TagNames[] = {
    {"p", TAG_P},
    {"/p", TAG_END_P},
    {"b", TAG_B},
    {"/b", TAG_END_B},
    {"font", TAG_FONT},
    {"/font", TAG_END_FONT},
    {"a", TAG_A},
    {"/a", TAG_END_A},
    {"tr", TAG_TR},
    {"/tr", TAG_END_TR},
    {"br", TAG_BR},
    {"table", TAG_TABLE},
    {"fitab", TAG_FITAB},
    {"/table", TAG_END_TABLE},
    {"td", TAG_TD},
    {"/td", TAG_END_TD},
    {"h1", TAG_H},
    {"h2", TAG_H},
    {"h3", TAG_H},
    {"h4", TAG_H},
    {"h5", TAG_H},
    {"h6", TAG_H},
    {"/h1", TAG_END_H},
    {"/h2", TAG_END_H},
    {"/h3", TAG_END_H},
    {"/h4", TAG_END_H},
    {"/h5", TAG_END_H},
    {"/h6", TAG_END_H},
    {"ol", TAG_OL},
    {"/ol", TAG_END_OL},
    {"li", TAG_LI},
    {"/li", TAG_END_LI},
    {"div", TAG_DIV},
    {"/div", TAG_END_DIV},
    {"img", TAG_IMG},
    {"title", TAG_TITLE},
    {"/title", TAG_END_TITLE},
    {nullptr, TAG_OTHER},
};

// Decides the encoding from the locale's environment, as the C library would
// for LC_CTYPE.
int Utf8FromEnvironment() {
    // The library never calls setlocale (that is the program's choice), so the
    // environment is read in the C library's order of precedence.
    for (const char *var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *v = getenv(var);
        if (v && *v) return StrCaseStr(v, "UTF-8") || StrCaseStr(v, "utf8") ? 1 : 0;
    }
    return 0;
}

// Length of the valid UTF-8 sequence at p (at most `left` bytes), 0 when p
// starts none. Overlong forms, surrogates and values past U+10FFFF are invalid.
// A sequence accepted here goes to the terminal as it stands, so only
// well-formed UTF-8 passes; other bytes are shown as Latin-1 characters.
int Utf8SeqLen(const unsigned char *p, long left, unsigned *cp) {
    unsigned c = p[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int n;
    unsigned v, min;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, v = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, v = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, v = c & 0x07, min = 0x10000;
    else
        return 0;
    if (left < n) return 0;
    for (int i = 1; i < n; ++i) {
        if (!Utf8IsContinuation(p[i])) return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

} // namespace

// Callers pass only valid code points (PutChar maps the rest to U+FFFD first),
// so no range is checked here.
int PutUtf8(char *out, unsigned cp) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

namespace {

// Control characters never reach the terminal: they would move its cursor or
// start escape sequences that a help file has no business sending.
bool IsControl(unsigned cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0);
}

// Walks the characters of text, calling put(bytes, n) for each cell.
// One walk serves both writing and counting, so that a measured width can never
// differ from what is written.
template <class Put> int ForEachCell(const char *text, int len, Put put) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *end = p + (len > 0 ? len : 0);
    int cells = 0;
    const bool utf8 = Utf8();
    while (p < end) {
        unsigned c = *p;
        if (c == '\t' || c == '\r' || c == '\n') {
            put(" ", 1);
            ++cells, ++p;
            continue;
        }
        if (c < 0x80 || !utf8) {
            // One byte per character: 0x80 to 0x9F are the C1 controls
            // (0x9B starts a control sequence like ESC [ does).
            if (!IsControl(c)) {
                put(reinterpret_cast<const char *>(p), 1);
                ++cells;
            }
            ++p;
            continue;
        }
        unsigned cp;
        int n = Utf8SeqLen(p, end - p, &cp);
        if (n == 0) { // not UTF-8: the byte is taken as its Latin-1 character
            cp = c;
            n = 1;
            if (!IsControl(cp)) {
                char buf[4];
                put(buf, PutUtf8(buf, cp));
                ++cells;
            }
        } else if (!IsControl(cp)) {
            put(reinterpret_cast<const char *>(p), n);
            ++cells;
        }
        p += n;
    }
    return cells;
}

} // namespace

// Pages made by hand (tests, callers building records) have no source: the
// layout then allows its minimum.
long PageSourceSize(const HtmlPage *page) {
    auto it = R.pageSource.find(page);
    return it == R.pageSource.end() ? 0 : it->second;
}

TagCode ClassifyTag(const HtmlElement *el) {
    const char *tag = el->pTag;
    if (!tag) return TAG_TEXT;
    size_t n = strlen(tag);
    // No known name is longer than six characters: most unknown tags end here.
    if (n == 0 || n > 6) return TAG_OTHER;
    char first = static_cast<char>(tag[0] | 0x20);
    for (const TagName *t = TagNames; t->name; ++t)
        if (t->name[0] == first && strlen(t->name) == n && strcasecmp(t->name, tag) == 0)
            return t->code;
    return TAG_OTHER;
}

// Decided once: text decoded under one encoding must be laid out under the same
// one, or column counts would not match.
int Utf8(void) {
    if (flHtmlUtf8 < 0) flHtmlUtf8 = Utf8FromEnvironment();
    return flHtmlUtf8;
}

// The image is kept in the terminal's encoding so that the final text is
// written out without another pass.
int AppendCells(std::string &out, const char *text, int len) {
    return ForEachCell(text, len,
                       [&](const char *b, int n) { out.append(b, static_cast<size_t>(n)); });
}

int CountCells(const char *text, int len) {
    return ForEachCell(text, len, [](const char *, int) {});
}

} // namespace html_internal

namespace {

// The white space of HTML source: a form feed or vertical tab is not folded but
// dropped with the other control characters.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value of a numeric character reference from p (just behind "&#"), in the
// manner of atoi (leading blanks, a sign, decimal digits) or hexadecimal after
// an "x"; very long numbers saturate instead of overflowing, so that a
// reference of a hundred digits is still one character that cannot be shown.
long ReferenceValue(const char *p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    int base = 10;
    if (*p == 'x' || *p == 'X') base = 16, ++p;
    bool negative = false;
    if (base == 10 && (*p == '+' || *p == '-')) negative = *p++ == '-';
    long v = 0;
    for (;; ++p) {
        int d;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (base == 16 && (*p | 0x20) >= 'a' && (*p | 0x20) <= 'f')
            d = (*p | 0x20) - 'a' + 10;
        else
            break;
        v = v * base + d;
        if (v > 0x7FFFFFFF) v = 0x7FFFFFFF;
    }
    return negative ? -v : v;
}

// Writes the character cp at out in the terminal's encoding and returns the
// number of bytes, 0 when it is not written (NUL and control characters).
// Under UTF-8 every Unicode character can be written; one byte per character
// takes the characters up to 255 as their byte and shows the rest as '?'.
// The same characters are dropped here as in ForEachCell, so that a reference
// cannot bring in a control character that the text itself could not.
int PutChar(char *out, long cp) {
    if (Utf8()) {
        if (cp < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) return 0;
        return PutUtf8(out, static_cast<unsigned>(cp));
    }
    if (cp < 0 || cp > 255) cp = '?';
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) return 0;
    out[0] = static_cast<char>(cp);
    return 1;
}

// Tags that leave the text on its line, so white space around them counts:
// every tag but those that break lines or build the page's structure.
// Blocks that the layout does not know ("ul", "pre") still count as blocks, so
// white space next to them is dropped as a browser would.
bool IsInlineTag(const char *name) {
    static const char *const blocks[] = {
        "p",    "br",   "h1",   "h2", "h3",  "h4",         "h5",     "h6",   "div",   "ol",
        "ul",   "li",   "dl",   "dt", "dd",  "tr",         "td",     "th",   "table", "title",
        "head", "body", "html", "hr", "pre", "blockquote", "center", nullptr};
    if (*name == '/') ++name;
    for (const char *const *b = blocks; *b; ++b)
        if (strcasecmp(*b, name) == 0) return false;
    return true;
}

// The list copies the record: elements point into the file's text, which lives
// as long as the file is loaded.
void PushElement(List *list, char *tag, void *data, int32_t len) {
    HtmlElement el = {tag, data, len};
    ListPushItem(list, &el, sizeof el);
}

// The next tag of the file at the top level: skips to the next "<" and cuts
// there, cuts at the following ">" and returns the text between; null (the end
// of the scan) when either is missing.
// Writing NULs into the text is what lets elements point into it instead of
// holding copies.
char *GetKeyWord(HtmlFile *f) {
    char *lt = strchr(f->pCur, '<');
    if (!lt) {
        f->pCur += strlen(f->pCur);
        return nullptr;
    }
    *lt = '\0';
    char *gt = strchr(lt + 1, '>');
    if (!gt) {
        f->pCur = lt + 1 + strlen(lt + 1);
        return nullptr;
    }
    *gt = '\0';
    f->pCur = gt + 1;
    return lt + 1;
}

// Splits a tag's text into its name (cut at the first white space behind it)
// and returns the attribute text behind that.
// In place, like the rest of the scan: the name and the attribute text stay in
// the file's text.
char *SplitTag(char *tag, char **name) {
    while (IsSpace(*tag))
        ++tag;
    *name = tag;
    while (*tag && !IsSpace(*tag))
        ++tag;
    if (*tag) *tag++ = '\0';
    return tag;
}

// Gives back the records an element list points to (links, tables) and the list.
// Only a and fitab elements own records; every other element points into the
// file's text, which goes with the file.
void FreeElements(List *l) {
    for (ListNode *n = l->pHead; n; n = n->pNext) {
        auto *e = static_cast<HtmlElement *>(n->pData);
        TagCode code = ClassifyTag(e);
        if (code == TAG_A) PutMem(e->pData);
        if (code == TAG_FITAB && e->pData) {
            auto *t = static_cast<HtmlTable *>(e->pData);
            PutMem(t->pRowHeights);
            PutMem(t->pColWidths);
            PutMem(t);
        }
    }
    ListDelAllItems(l);
}

// Frees what a file record holds and empties its slot.
// A text handed in by the caller is the caller's to free when loading fails;
// once loaded, the file owns it.
void DropFile(HtmlFile *f, bool ownsContent) {
    PutMem(f->pName);
    if (ownsContent) PutMem(f->pContent);
    while (auto *page = static_cast<HtmlPage *>(ListPopFirstItem(&f->Pages, 0))) {
        R.pageSource.erase(page);
        FreeElements(&page->Head);
        FreeElements(&page->Body);
        ListDelAllItems(&page->Links);
        PutMem(page->pText);
        PutMem(page);
    }
    *f = HtmlFile{};
}

// Splits the file's text into pages and parses their heads and bodies.
void ScanFile(HtmlFile *f) {
    HtmlPage *page = nullptr;
    // Where each page's html tag stands: a page's source runs to the next one's.
    // Measured before the scan writes NULs into the text.
    const long total = static_cast<long>(strlen(f->pContent));
    // Collected first and turned into sizes at the end: a page's size is known
    // only when the next page starts.
    std::vector<std::pair<HtmlPage *, long>> starts;
    while (char *tag = GetKeyWord(f)) {
        char *name;
        char *attrs = SplitTag(tag, &name);
        if (strcasecmp(name, "html") == 0) {
            if (strstr(attrs, "SkipPage")) {
                if (char *end = StrCaseStr(f->pCur, "/html")) {
                    char *gt = strchr(end + 5, '>');
                    f->pCur = gt ? gt + 1 : end + strlen(end);
                }
                continue;
            }
            char *pageName = StrCaseStr(attrs, "page=\"");
            if (page && !pageName) continue; // the current page goes on
            HtmlPage record = {};
            if (pageName) {
                pageName += 6;
                // The name is cut in place at its closing quote; the rest of
                // the tag is not needed again.
                if (char *quote = strchr(pageName, '"')) *quote = '\0';
                record.pName = pageName;
            }
            page = static_cast<HtmlPage *>(ListPushItem(&f->Pages, &record, sizeof record));
            if (page) starts.emplace_back(page, static_cast<long>(tag - 1 - f->pContent));
        } else if (strcasecmp(name, "head") == 0) {
            // A page continued by an unnamed html tag may bring another head:
            // the first one's title stays.
            if (page && page->Head.Count == 0) ParseHtml(f, &page->Head, "head");
        } else if (strcasecmp(name, "body") == 0) {
            if (page) ParseHtml(f, &page->Body, "body");
        }
    }
    for (size_t i = 0; i < starts.size(); ++i)
        R.pageSource[starts[i].first] =
            (i + 1 < starts.size() ? starts[i + 1].second : total) - starts[i].second;
}

} // namespace

namespace {

// Decodes the character reference at p, which begins with '&': "&#N;",
// "&#xH;", "&quot;" or one of the entity names
// of HTMLKeys. Returns where the text goes on behind the reference, with *cp
// the character, or -1 when the text ends inside a numeric reference (it is
// dropped with the rest of the text). Null when p starts no reference that
// is known: the '&' is then ordinary text.
// Entity names are matched whole, with their semicolon: "&eacute" without
// one stays text.
char *DecodeReference(char *p, long *cp) {
    if (p[1] == '#') {
        char *semi = strchr(p + 2, ';');
        if (!semi) {
            *cp = -1;
            return p + strlen(p);
        }
        // A number too large or negative still ends the reference; PutChar shows
        // it as U+FFFD, or '?' in one byte per character.
        *cp = ReferenceValue(p + 2);
        return semi + 1;
    }
    if (strncasecmp(p + 1, "quot;", 5) == 0) {
        *cp = '"';
        return p + 6;
    }
    // Entity names are short: a semicolon further on belongs to other text.
    char *semi = nullptr;
    for (int i = 1; i <= 15 && p[i]; ++i)
        if (p[i] == ';') {
            semi = p + i;
            break;
        }
    if (!semi) return nullptr;
    char name[16];
    size_t n = static_cast<size_t>(semi - p); // name and semicolon
    memcpy(name, p + 1, n);
    name[n] = '\0';
    // Matched as written: entity names are case-sensitive ("&Eacute;" is not
    // "&eacute;").
    int number = FindToken(name, HTMLKeys);
    if (number == 0) return nullptr;
    *cp = 159 + number; // HTMLKeys lists the characters from 160 on
    return semi + 1;
}

} // namespace

// Text runs are decoded in place: the decoded bytes are never more than the
// source's, so out never overtakes p and nothing needs to be allocated per run.
HtmlFile *ParseHtml(HtmlFile *file, List *list, const char *endtag) {
    if (!file || !list || !file->pCur) return file;
    char *p = file->pCur;
    char *run = nullptr; // start of the open text run
    char *out = nullptr; // where its next decoded character goes
    // White space between an inline tag and the text behind it separates
    // words ("a <b>bold</b> word"): the run that follows begins with it.
    char *space = nullptr;
    bool inlineTag = false; // the last element was a tag that stays within its line
    // A run starts at its first character, or at the space held back before it:
    // the space's byte is still in the text, so the run can begin there.
    auto open = [&](char *at) {
        if (run) return;
        if (space) {
            run = out = space;
            *out++ = *space;
            space = nullptr;
        } else {
            run = out = at;
        }
    };
    // The NUL goes where the decoded text ends, which may lie before the
    // source's end: the rest of the source is never read again.
    auto closeRun = [&] {
        if (!run) return;
        *out = '\0';
        PushElement(list, nullptr, run, static_cast<int32_t>(out - run));
        run = nullptr;
    };
    // Writes a decoded character; a run it opens starts at its reference.
    auto put = [&](long cp, char *at) {
        char buf[4];
        int n = PutChar(buf, cp);
        if (n == 0) return;
        open(at);
        memcpy(out, buf, static_cast<size_t>(n));
        out += n;
    };
    while (*p) {
        char c = *p;
        if (c == '<') {
            char *gt = p + 1;
            while (*gt && *gt != '>')
                ++gt;
            char *next = *gt ? gt + 1 : gt;
            *gt = '\0';
            closeRun();
            *p = '\0';
            char *name;
            char *attrs = SplitTag(p + 1, &name);
            // Returning null tells the caller the section ended at its own
            // closing tag rather than at the end of the file.
            if (name[0] == '/' && endtag && strcasecmp(name + 1, endtag) == 0) {
                file->pCur = next;
                return nullptr;
            }
            bool isInline = IsInlineTag(name);
            if (space && isInline) { // between two inline tags the space is a run of its own
                space[1] = '\0';
                PushElement(list, nullptr, space, 1);
            }
            AddAtribute(list, name, attrs);
            inlineTag = isInline;
            space = nullptr;
            p = next;
        } else if (IsSpace(c)) {
            // White space within a run folds to its first character, as a
            // browser folds it; before a run it counts only behind an inline
            // tag, and a block's leading blanks are dropped.
            if (run)
                *out++ = c;
            else if (inlineTag && !space)
                space = p;
            ++p;
            if (run)
                while (IsSpace(*p))
                    ++p;
        } else if (c == '&') {
            long cp = 0;
            if (char *behind = DecodeReference(p, &cp); behind != nullptr) {
                if (cp >= 0) put(cp, p);
                p = behind;
            } else if (run) {
                *out++ = *p++; // no reference: the '&' is text
            } else {
                ++p;
            }
        } else {
            open(p);
            *out++ = *p++;
        }
    }
    // A file that ends inside a text run still shows that text.
    closeRun();
    file->pCur = p;
    return file;
}

void AddAtribute(List *list, char *tag, char *data) {
    if (!list) return;
    if (!data) data = tag ? tag + strlen(tag) : nullptr;
    int32_t len = StrLen(data);
    if (!tag || strcasecmp(tag, "a") != 0) {
        PushElement(list, tag, data, len);
        return;
    }
    // Without memory for the record the tag is dropped rather than kept with
    // its attribute text: an a element's data is given back as a record when
    // the file goes.
    auto *link = static_cast<HtmlLink *>(GetMem(sizeof(HtmlLink)));
    if (!link) return;
    char *p = data;
    while (p && *p) {
        while (IsSpace(*p))
            ++p;
        if (!*p) break;
        char *piece = p;
        while (*p && !IsSpace(*p))
            ++p;
        if (*p) *p++ = '\0';
        char *eq = strchr(piece, '=');
        if (!eq) continue;
        *eq = '\0';
        char *value = eq + 1;
        // Quotes are taken off in place; single quotes and unquoted values are
        // taken as they stand, up to the next blank.
        if (*value == '"') ++value;
        if (char *quote = strchr(value, '"')) *quote = '\0';
        if (strcasecmp(piece, "name") == 0) {
            link->pTarget = value;
            link->Kind = HTML_LINK_NAME;
        } else if (strcasecmp(piece, "href") == 0) {
            link->pTarget = value;
            link->Kind = HTML_LINK_HREF;
        }
    }
    PushElement(list, tag, link, len);
}

// The history and the anchor position refer to the files' pages: they start
// over with them.
void HtmlFreeFiles(void) {
    for (int i = 0; i < FileIndex; ++i)
        DropFile(&aFile[i], true);
    FileIndex = 0;
    CurrentFile = 0;
    pCurrentPage = nullptr;
    HistoryI = 0;
    TargetPos = 0;
}

// Makes the file found the current one, as following a link to it would.
HtmlFile *FindHtmlFile(const char *name) {
    if (!name) return nullptr;
    for (int i = 0; i < FileIndex; ++i)
        if (aFile[i].pName && strcmp(aFile[i].pName, name) == 0) {
            CurrentFile = i;
            return &aFile[i];
        }
    return nullptr;
}

HtmlFile *ParseHtmlFile(const char *name, char *content) {
    if (!name || strncasecmp(name, "http://", 7) == 0) return nullptr;
    if (strncasecmp(name, "file://", 7) == 0) name += 7;
    const char *hash = strchr(name, '#');
    std::string fileName(name, hash ? static_cast<size_t>(hash - name) : strlen(name));
    Utf8(); // settle the encoding before any text is decoded

    for (int i = 0; i < FileIndex; ++i) {
        HtmlFile *f = &aFile[i];
        // A file is loaded once: its pages, and the history's pointers into
        // them, stay valid for the process.
        if (f->Pages.Count > 0 && strcmp(f->pName, fileName.c_str()) == 0) return f;
    }
    // Every slot taken: the file is refused rather than written past the array.
    if (FileIndex >= HTML_MAX_FILES) return nullptr;

    char *text = content ? content : GetSavedFileContent(fileName.c_str(), nullptr);
    if (!text) return nullptr;
    HtmlFile *f = &aFile[FileIndex];
    *f = HtmlFile{};
    f->pName = SaveStr_(fileName.c_str());
    f->pContent = text;
    f->pCur = text;
    ScanFile(f);
    if (f->Pages.Count == 0) {
        DropFile(f, content == nullptr);
        return nullptr;
    }
    ++FileIndex;
    return f;
}
