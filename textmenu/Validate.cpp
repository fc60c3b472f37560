// Validate.cpp - checks typed values against entry formats: literal
// characters, character classes with allowed extras, lengths, integer,
// hexadecimal, fraction and extended-precision ranges, forbidden entries and
// alternatives; and the smaller checkers for length-and-digit fields and names.
#include "MenuPriv.h"
#include "TextMenu.h"

#include "MemMgr.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Kept only once the catalog has them: a text still missing leaves its slot
// null, so a check after the catalog is opened can fetch it.
char *pErrIntRange = nullptr;
char *pErrFloatRange = nullptr;
char *pErrLongRange = nullptr;

namespace textmenu_detail {

// A copy, so that callers need not give the catalog's text back on every path;
// a missing text reads "Error", as the catalog's other lookups show it.
std::string CatalogText(int section, int number) {
    char *text = NlsFindText(pDrvCoreDB, section, number);
    if (text == nullptr) return "Error";
    std::string s = text;
    PutMem(text);
    return s;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
namespace {
// One stack buffer rather than measuring first: messages are a line or two, and
// one longer than this would not fit a screen anyway.
std::string VFormat(const char *format, va_list ap) {
    char buf[65536];
    vsnprintf(buf, sizeof buf, format, ap);
    return buf;
}
} // namespace
#pragma GCC diagnostic pop

// A catalog text becomes a format only when its conversions match the English
// text's: a translated text is data and must not read arguments that are not
// there.
std::string CatalogFormatText(int section, int number) {
    std::string text = CatalogText(section, number);
    if (text == "Error") return text;
    char key[32];
    snprintf(key, sizeof key, "%d_%d", section, number);
    return NlsCheckedFormat(key, text.c_str());
}

std::string CatalogFormat(int section, int number, ...) {
    std::string format = CatalogFormatText(section, number);
    va_list ap;
    va_start(ap, number);
    std::string s = VFormat(format.c_str(), ap);
    va_end(ap);
    return s;
}

// A message stays on the screen until the user has read it: the menu clears the
// screen when it shows again.
void WaitForReturn() {
    fputs(CatalogText(25, 1001).c_str(), stdout);
    fflush(stdout);
    Gets(LineBuf, LINE_BUF_SIZE);
}

} // namespace textmenu_detail

using namespace textmenu_detail;

namespace {

// Work areas of one check: the matched text of the current alternative and
// the allowed and forbidden characters of the current code.
constexpr int MATCHED_SIZE = 512;
constexpr int LIST_SIZE = 80;
// Catalog entries (section 25) of "Invalid character %c\n%c was expected
// after \"%s\"", "Invalid digit:  %c\n" and "This number must be between %f
// to %f.".
constexpr int MSG_EXPECTED_AFTER = 1005;
constexpr int MSG_INVALID_DIGIT = 1010;
constexpr int MSG_FLOAT_RANGE = 1012;

// How one format element ended.
enum class Step {
    Next,    // go on with the next element
    Fail,    // the alternative failed: try the next one or report
    Stop,    // the check ends with a failure now
    RangeOk, // a range held: the alternative is satisfied up to '&'
    Accept,  // the check ends successfully now
};

// One check walks the entry and the format together; an alternative after '|'
// starts the entry over, and so does a part after '&', which checks the same
// entry again.
struct Check {
    const char *entry;
    size_t entryLen;
    const char *pos;            // current entry position
    char matched[MATCHED_SIZE]; // entry characters accepted in this alternative (cut at the limit)
    int matchedLen;
    char extras[LIST_SIZE];    // allowed extras of the current code
    char forbidden[LIST_SIZE]; // forbidden characters of the current code
    int code;                  // failure code of a Fail or Stop
    std::string message;       // what to show for it; empty shows nothing

    explicit Check(const char *text) : entry(text), entryLen(strlen(text)) { Restart(); }
    void Restart() {
        pos = entry;
        matchedLen = 0;
        matched[0] = '\0';
    }
    // The matched text serves messages only ("expected after ..."): cut at the
    // buffer, while the check itself goes on.
    void Match(const char *from, const char *to) {
        for (; from < to; ++from)
            if (matchedLen < MATCHED_SIZE - 1) matched[matchedLen++] = *from;
        matched[matchedLen] = '\0';
    }
    // Steps over one character behind a number, never past the end.
    void StepOne() {
        if (*pos != '\0') ++pos;
    }
    Step Failure(Step how, int failCode, std::string text) {
        code = failCode;
        message = std::move(text);
        return how;
    }
};

// Never past the end: a format cut short by its author ends the check instead
// of reading past it.
void StepOver(const char **f) {
    if (**f != '\0') ++*f;
}

// Reads "X(min,max)" behind the code letter at *f: the letter, one character,
// a number, one separator, a number and one closing character.
void ReadRange(const char **f, int *min, int *max) {
    StepOver(f);
    StepOver(f);
    char *end = nullptr;
    *min = static_cast<int>(strtol(*f, &end, 10));
    *f = end;
    StepOver(f);
    *max = static_cast<int>(strtol(*f, &end, 10));
    *f = end;
    StepOver(f);
}

// Reads the "+c" and "-c" pairs at *f into the allowed and forbidden lists
// (at most LIST_SIZE - 1 characters each; further pairs are passed over).
// "+c" lets a class take a character it would refuse, "-c" keeps a number from
// taking one: a field's exceptions are written beside its class.
void ReadPairs(const char **f, Check &c) {
    int nExtra = 0, nForbidden = 0;
    while (((*f)[0] == '+' || (*f)[0] == '-') && (*f)[1] != '\0') {
        if ((*f)[0] == '+' && nExtra < LIST_SIZE - 1) c.extras[nExtra++] = (*f)[1];
        if ((*f)[0] == '-' && nForbidden < LIST_SIZE - 1) c.forbidden[nForbidden++] = (*f)[1];
        *f += 2;
    }
    c.extras[nExtra] = '\0';
    c.forbidden[nForbidden] = '\0';
}

// The end of the entry is in no list, though strchr would find it in every one.
bool InList(const char *list, char ch) {
    return ch != '\0' && strchr(list, ch) != nullptr;
}

// Moves past the ')' that closes the code at *f, or to the end.
void SkipPastParen(const char **f) {
    const char *close = strchr(*f, ')');
    *f = close ? close + 1 : *f + strlen(*f);
}

// Reads a number at the entry position with parse(text, &end), adds its
// characters to the matched text and steps over them and one more.
template <typename Parse> auto TakeNumber(Check &c, Parse parse) {
    char *end = nullptr;
    auto value = parse(c.pos, &end);
    c.Match(c.pos, end);
    c.pos = end;
    c.StepOne();
    return value;
}

// Reads the range of a fraction code, "X(min,max)" with parse, and moves *f
// past its ')'.
template <typename T, typename Parse>
void ReadRealRange(const char **f, T *min, T *max, Parse parse) {
    const char *p = *f;
    StepOver(&p);
    StepOver(&p);
    char *end = nullptr;
    *min = parse(p, &end);
    *max = *end == ',' ? parse(end + 1, &end) : T{};
    SkipPastParen(f);
}

// A maximum of 0 sets no length: "A(0,0)" checks only the characters. The
// length is the whole entry's, not what this alternative matched so far.
Step LengthTest(Check &c, int min, int max) {
    if (max == 0) return Step::Next;
    long len = static_cast<long>(c.entryLen);
    if (len >= min && len <= max) return Step::Next;
    return c.Failure(Step::Fail, ENTRY_LENGTH,
                     min == max ? CatalogFormat(30, 44, min) : CatalogFormat(30, 42, min, max));
}

// A class takes the rest of the entry, as "A(1,8)" is a whole field: a
// character it refuses fails the alternative, and the next one may allow it.
Step CheckClass(Check &c, const char **f) {
    char cls = **f;
    int min = 0, max = 0;
    ReadRange(f, &min, &max);
    ReadPairs(f, c);
    for (; *c.pos != '\0'; ++c.pos) {
        unsigned char ch = static_cast<unsigned char>(*c.pos);
        bool ok = cls == 'A' ? isalnum(ch) : cls == 'a' ? isalpha(ch) : isprint(ch);
        if (!ok && !InList(c.extras, *c.pos))
            return c.Failure(Step::Fail, ENTRY_CHARACTER,
                             CatalogFormat(25, cls == 'a' ? 1008 : 1007, *c.pos, c.extras));
        c.Match(c.pos, c.pos + 1);
    }
    return LengthTest(c, min, max);
}

Step CheckDecimal(Check &c, const char **f) {
    long value = TakeNumber(c, [](const char *text, char **end) { return strtol(text, end, 10); });
    // Clamped rather than wrapped: a huge number must fail the range, not land
    // inside it.
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    int min = 0, max = 0;
    ReadRange(f, &min, &max);
    ReadPairs(f, c);
    // Every character of the entry, not only the number's: "12ab" is not 12.
    for (const char *p = c.entry; *p != '\0'; ++p) {
        if (InList(c.forbidden, *p) || !isdigit(static_cast<unsigned char>(*p))) {
            return c.Failure(Step::Stop, ENTRY_CHARACTER, CatalogFormat(25, MSG_INVALID_DIGIT, *p));
        }
    }
    if (max == 0) return Step::Next;
    if (value < min || value > max)
        return c.Failure(Step::Stop, ENTRY_RANGE, CatalogFormat(25, 1003, min, max));
    return Step::RangeOk;
}

// Compared both as signed and as unsigned, so that a value past the signed
// range cannot wrap into the range.
Step CheckHex(Check &c, const char **f) {
    unsigned long long value =
        TakeNumber(c, [](const char *text, char **end) { return strtoull(text, end, 16); });
    int min = 0, max = 0;
    ReadRange(f, &min, &max);
    if (max == 0) return Step::Next;
    if (static_cast<long long>(value) < min ||
        value > static_cast<unsigned long long>(static_cast<long long>(max)))
        return c.Failure(Step::Stop, ENTRY_RANGE, CatalogFormat(25, 1004, min, max));
    return Step::RangeOk;
}

Step CheckFraction(Check &c, const char **f) {
    int dots = 0;
    for (const char *p = c.pos; *p != '\0'; ++p) {
        if (*p == '.') {
            ++dots;
        } else if (!isdigit(static_cast<unsigned char>(*p))) {
            return c.Failure(Step::Stop, ENTRY_CHARACTER, CatalogFormat(25, 1006, *p));
        }
    }
    // strtof would stop at the second dot and take "1.2.3" for 1.2.
    if (dots > 1) return c.Failure(Step::Stop, ENTRY_RANGE, CatalogText(25, 1020));
    float value = TakeNumber(c, strtof);
    float min = 0, max = 0;
    ReadRealRange(f, &min, &max, strtof);
    if (max == 0.0f) return Step::Next;
    if (value < min || value > max) {
        return c.Failure(
            Step::Stop, ENTRY_RANGE,
            CatalogFormat(25, MSG_FLOAT_RANGE, static_cast<double>(min), static_cast<double>(max)));
    }
    return Step::RangeOk;
}

// Read and compared as long double, for ranges a float cannot hold exactly.
Step CheckExtended(Check &c, const char **f) {
    long double value = TakeNumber(c, strtold);
    long double min = 0, max = 0;
    ReadRealRange(f, &min, &max, strtold);
    ReadPairs(f, c);
    for (const char *q = c.entry; *q != '\0'; ++q) {
        if (InList(c.forbidden, *q) || !(isdigit(static_cast<unsigned char>(*q)) || *q == '.')) {
            return c.Failure(Step::Stop, ENTRY_CHARACTER, CatalogFormat(25, 1006, *q));
        }
    }
    if (max == 0.0L) return Step::Next;
    if (value < min || value > max)
        return c.Failure(Step::Stop, ENTRY_RANGE, CatalogFormat(25, 1024, min, max));
    return Step::RangeOk;
}

// A forbidden entry ends the check; any other entry is accepted at once,
// whatever follows in the format.
Step CheckForbidden(Check &c, const char **f) {
    const char *p = *f;
    StepOver(&p);
    StepOver(&p);
    const char *close = strchr(p, ')');
    size_t len = close ? static_cast<size_t>(close - p) : strlen(p);
    if (c.entryLen == len && memcmp(c.entry, p, len) == 0)
        return c.Failure(Step::Stop, ENTRY_FORBIDDEN, CatalogFormat(25, 1009, c.entry));
    return Step::Accept;
}

// Literal characters (the "/" that begins a path format) must stand where the
// format has them.
Step CheckLiteral(Check &c, const char **f) {
    if (*c.pos == **f) {
        c.Match(c.pos, c.pos + 1);
        ++c.pos;
        ++*f;
        return Step::Next;
    }
    std::string text;
    // An entry that ended early shows a blank where its character would be.
    if (c.matchedLen > 0)
        text = CatalogFormat(25, MSG_EXPECTED_AFTER, *c.pos ? *c.pos : ' ', **f, c.matched);
    return c.Failure(Step::Fail, ENTRY_CHARACTER, text);
}

// Any character that is no code letter is a literal, so that a format reads
// like the entries it describes.
Step CheckElement(Check &c, const char **f) {
    int min = 0, max = 0;
    switch (**f) {
    case 'A':
    case 'a':
    case 'p':
        return CheckClass(c, f);
    case 'L':
        ReadRange(f, &min, &max);
        return LengthTest(c, min, max);
    case 't':
        // 't' is a length when a range follows it, else a forbidden entry as
        // '!' is.
        if ((*f)[1] != '(') return CheckForbidden(c, f);
        ReadRange(f, &min, &max);
        return LengthTest(c, min, max);
    case 'd':
        return CheckDecimal(c, f);
    case 'x':
        return CheckHex(c, f);
    case 'f':
        return CheckFraction(c, f);
    case 'D':
        return CheckExtended(c, f);
    case '!':
        return CheckForbidden(c, f);
    default:
        return CheckLiteral(c, f);
    }
}

// Moves to the next '|', '&' or the end of the format.
void SkipAlternative(const char **f) {
    while (**f != '\0' && **f != '|' && **f != '&')
        ++*f;
}

// A literal that fails at the entry's very start has no message: nothing to
// show, so nothing to wait for.
void Report(const std::string &message) {
    if (message.empty()) return;
    fputs(message.c_str(), stdout);
    WaitForReturn();
}

void KeepText(char **slot, int number) {
    if (*slot != nullptr) return;
    std::string text = CatalogText(25, number);
    if (text != "Error") *slot = SaveStr_(text.c_str());
}

} // namespace

namespace {

// The check of ValidateEntry; with report false nothing is shown and no
// answer is awaited.
// The quiet form serves readers of settings files: a value from a file is
// refused without a dialogue that nobody is there to answer.
int Validate(const char *entry, const char *format, bool report) {
    if (format == nullptr) return ENTRY_OK;
    KeepText(&pErrIntRange, 1003);
    KeepText(&pErrFloatRange, 1004);
    KeepText(&pErrLongRange, 1024);
    Check c(entry ? entry : "");
    const char *f = format;
    for (;;) {
        switch (*f) {
        case '\0':
        case '|':
            return ENTRY_OK;
        case ' ':
        case '\t':
        case '\n':
            // Blanks between the parts are for whoever reads the format.
            ++f;
            continue;
        case '&':
            ++f;
            c.Restart();
            continue;
        default:
            break;
        }
        switch (CheckElement(c, &f)) {
        case Step::Next:
            break;
        case Step::Fail:
            SkipAlternative(&f);
            if (*f == '|') {
                ++f;
                c.Restart();
                break;
            }
            if (report) Report(c.message);
            return c.code;
        case Step::Stop:
            if (report) Report(c.message);
            return c.code;
        // A range that held satisfies its alternative: the rest of it is not
        // checked, and only a part after '&' still is.
        case Step::RangeOk:
            SkipAlternative(&f);
            if (*f != '&') return ENTRY_OK;
            break;
        case Step::Accept:
            return ENTRY_OK;
        }
    }
}

} // namespace

int ValidateEntry(const char *entry, const char *format) {
    return Validate(entry, format, true);
}

int ValidateEntryQuiet(const char *entry, const char *format) {
    return Validate(entry, format, false);
}

// Any one character may open the range and any one separate its numbers, so
// "(1,8)", "1-8" and "[1;8]" read alike.
int getMinMax(const char *range, int *min) {
    int lo = 0;
    int hi = 0;
    if (range != nullptr) {
        const char *p = range;
        if (*p != '\0' && !isdigit(static_cast<unsigned char>(*p))) ++p;
        char *end = nullptr;
        lo = static_cast<int>(strtol(p, &end, 10));
        p = end;
        if (*p != '\0') ++p;
        hi = atoi(p);
    }
    if (min != nullptr) *min = lo;
    return hi;
}

char *ValidateEntryLen(const char *entry, const char *range) {
    int min = 4, max = 4;
    if (range != nullptr) max = getMinMax(range, &min);
    long len = entry ? static_cast<long>(strlen(entry)) : 0;
    if (len >= min && (max == 0 || len <= max)) return nullptr;
    std::string text = min == max ? CatalogFormat(30, 44, min) : CatalogFormat(30, 42, min, max);
    snprintf(NlsBuf, sizeof NlsBuf, "%s", text.c_str());
    return NlsBuf;
}

int ValidateEntryDigit(const char *entry) {
    if (entry == nullptr) return 0;
    for (const char *p = entry; *p != '\0'; ++p)
        if (!isdigit(static_cast<unsigned char>(*p))) return static_cast<unsigned char>(*p);
    return 0;
}

int ValidateEntryTty(const char *entry, const char *range) {
    if (char *message = ValidateEntryLen(entry, range)) {
        PostMsg("%s", message);
        return ENTRY_LENGTH;
    }
    if (int c = ValidateEntryDigit(entry)) {
        PostMsg("%s", CatalogFormat(25, MSG_INVALID_DIGIT, c).c_str());
        return ENTRY_CHARACTER;
    }
    return ENTRY_OK;
}

int TestName(const char *text) {
    if (text == nullptr) return 1;
    for (const char *p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (isalnum(c) || c == '_' || c == '-') continue;
        Nlsfprintf(stdout, pDrvCoreDB, 25, 1002, *p);
        Nlsfprintf(stdout, pDrvCoreDB, 25, 1000);
        fflush(stdout);
        Gets(LineBuf, LINE_BUF_SIZE);
        return 0;
    }
    return 1;
}

void PostMsg(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vprintf(format, ap);
    va_end(ap);
    WaitForReturn();
}
