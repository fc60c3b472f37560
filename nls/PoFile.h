// PoFile.h - reading the catalog sources: PO files with one entry per key
// (msgctxt "25_1011"), the English text as msgid and the translation as
// msgstr, and the printf directives of their texts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One entry of a PO file, its strings with their C escapes resolved.
struct PoEntry {
    std::string Context;  // msgctxt: the catalog key; empty when absent
    std::string Id;       // msgid: the English text; empty for the header entry
    std::string Str;      // msgstr: the translation; empty when untranslated
    bool Fuzzy = false;   // flagged "fuzzy": not to be used
    bool CFormat = false; // flagged "c-format"
    int Line = 0;         // line of its first keyword, from 1
};

// Reads the PO text (len bytes, need not be terminated) into entries, in
// file order. Obsolete ("#~") entries and comments are passed over. Returns
// true, or false with a message "line N: ..." in err at the first line that
// is not PO syntax (entries read so far stay in entries).
bool PoParse(const char *text, size_t len, std::vector<PoEntry> &entries, std::string &err);

// The printf conversions of a format text, one per directive, each written
// as its length modifier and conversion ("d", "ld", "Lg", "s", "*d" for a
// width taken from the arguments); "%%" counts as none. Flags, widths and
// precisions are left out: they do not change what is read from the
// arguments. A directive cut off by the end of the text is returned as "?".
std::vector<std::string> PoDirectives(const std::string &format);
