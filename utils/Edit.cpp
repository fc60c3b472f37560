// In-place editing of text files.
//
// Every editor reads the file line by line, writes the edited text to a
// temporary beside it and then puts the temporary in the file's place through
// the atomic replacement of the file helpers: flushed and synced before the
// rename, which is skipped when the new text could not be written in full, so
// a full disk or a crash leaves either the old file or the new one, never a
// cut one. The replaced file keeps its permission bits (and, where we may
// give it, its owner): an edited script stays executable.

#include "utils.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

FILE *pOut = nullptr;
char Fn[EDIT_NAME_SIZE];
char FnOut[EDIT_NAME_SIZE];

namespace {

struct EditState {
    char genName[255];    // GenName's result, valid until its next call
    FileReplacement pair; // the stream pair's temporary, from OpenIOFiles to ReplaceInputFile
};
EditState g_edit;

// Most bytes FileChangeChar puts in the place of one character.
constexpr int MAX_REPLACEMENT_BYTES = 127;

// Names of one edit: the file and the temporary beside it.
struct EditNames {
    char file[EDIT_NAME_SIZE];
    char temp[EDIT_NAME_SIZE];
};

// A name that does not fit the name buffers is refused like a file that
// cannot be opened: a cut name would edit some other file.
[[noreturn]] void NameTooLong(const char *name) {
    errno = ENAMETOOLONG;
    SysError("can't open file, %s", name);
}

// Builds the name of the edited file, "base.ext" (base alone for an empty
// or null extension), into file; ends the program when it does not fit.
void MakeFileName(char (&file)[EDIT_NAME_SIZE], const char *base, const char *ext) {
    if (base == nullptr) base = "";
    if (ext == nullptr) ext = "";
    int n = *ext ? FormatBounded(file, sizeof file, "%s.%s", base, ext)
                 : FormatBounded(file, sizeof file, "%s", base);
    if (n < 0) NameTooLong(base);
}

// Builds "base.ext" and the one-call editors' temporary "base.extout"
// ("base.out" for an empty extension).
void MakeNames(const char *base, const char *ext, EditNames &names) {
    MakeFileName(names.file, base, ext);
    if (base == nullptr) base = "";
    if (ext == nullptr) ext = "";
    if (FormatBounded(names.temp, sizeof names.temp, "%s.%sout", base, ext) < 0) NameTooLong(base);
}

// Opens a fresh temporary beside `file` for writing. A leftover of an
// earlier run is removed first; the new one is made exclusively without
// following a link, so a link planted under the temporary's name cannot
// redirect the write. Ends the program when it cannot be created.
void OpenTemp(FileReplacement *rep, const char *file, const char *temp) {
    if (!ReplaceOpen(rep, file, temp, -1, REPLACE_KEEP_MODE | REPLACE_DROP_LEFTOVER)) {
        errno = rep->Errno;
        SysError("can't open file, %s", rep->Failed == REPLACE_FAILED_LINK ? file : temp);
    }
}

// Closes the source `in` (when still open) and puts the temporary in the
// file's place; the replaced file keeps its permission bits (and, where we
// may give it, its owner): an edited script stays executable. Returns 0 when
// the file was replaced, 1 otherwise (the original is then left as it was).
int PutInPlace(FILE *in, FileReplacement *rep) {
    if (in != nullptr) fclose(in);
    if (ReplaceCommit(rep, nullptr)) return 0;
    if (rep->Failed == REPLACE_FAILED_WRITE)
        fprintf(stderr, "ERROR: couldn't write %s\n", rep->Temp);
    return 1;
}

// Reads the file named by base and ext line by line and writes what `edit`
// makes of each line to the temporary, then puts it in place. `edit` gets
// the line (line end included) and its length and writes to `out`.
template <typename Edit> int EditFile(const char *base, const char *ext, Edit edit) {
    EditNames names;
    MakeNames(base, ext, names);
    FILE *in = OpenFile(nullptr, names.file, "rt", REPORT_FATAL);
    FileReplacement rep;
    OpenTemp(&rep, names.file, names.temp);
    FILE *out = rep.pOut;

    char *line = nullptr;
    size_t cap = 0;
    ssize_t len;
    while ((len = getline(&line, &cap, in)) > 0)
        edit(line, static_cast<size_t>(len), out);
    bool readOk = !ferror(in);
    free(line);

    if (!readOk) {
        fclose(in);
        ReplaceAbort(&rep);
        fprintf(stderr, "ERROR: couldn't read %s\n", names.file);
        return 1;
    }
    return PutInPlace(in, &rep);
}

// First occurrence of pattern in line; null when absent or pattern is null.
const char *Find(const char *line, const char *pattern) {
    return pattern ? strstr(line, pattern) : nullptr;
}

void Write(FILE *out, const char *text, size_t len) {
    if (len) fwrite(text, 1, len, out);
}

// Writes line with [hit, hit + cut) left out.
void WriteWithout(FILE *out, const char *line, size_t len, const char *hit, size_t cut) {
    size_t before = static_cast<size_t>(hit - line);
    Write(out, line, before);
    Write(out, hit + cut, len - before - cut);
}

// Reads a character code written as C does ("13", "0x0d", "015").
bool ParseCode(const char *text, int &code) {
    return text != nullptr && sscanf(text, "%i", &code) == 1;
}

// Writes line with every byte `code` replaced by `with` (deleted when empty).
void WriteReplacingChar(FILE *out, const char *line, size_t len, int code,
                        const std::string &with) {
    for (size_t i = 0; i < len; ++i) {
        if (static_cast<unsigned char>(line[i]) == code)
            Write(out, with.data(), with.size());
        else
            fputc(line[i], out);
    }
}

// A parsed insertion template: "%s<digits>" gives the counter's start and
// is removed; "%#<digits>" is where the counter minus the offset goes.
struct InsertTemplate {
    std::string text;      // the template without "%s<digits>"
    long counter = 0;      // number of the next line concerned
    bool numbered = false; // text holds "%#<digits>"
    long offset = 0;       // subtracted from the counter
    std::string before;    // text before "%#<digits>"
    std::string after;     // text after it

    explicit InsertTemplate(const char *tmpl) : text(tmpl ? tmpl : "") {
        size_t at = FindWithDigits("%s");
        if (at != std::string::npos) {
            size_t end = at + 2;
            counter = ReadNumber(end);
            text.erase(at, end - at);
        }
        at = FindWithDigits("%#");
        if (at != std::string::npos) {
            size_t end = at + 2;
            offset = ReadNumber(end);
            numbered = true;
            before = text.substr(0, at);
            after = text.substr(end);
        }
    }

    // Position of the first `mark` followed by a decimal digit, or npos.
    size_t FindWithDigits(const char *mark) const {
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
            if (at + 2 < text.size() && isdigit(static_cast<unsigned char>(text[at + 2])))
                return at;
        return std::string::npos;
    }

    // Reads the digits at `pos` and moves it behind them; a value too large
    // for a counter is held at its limit.
    long ReadNumber(size_t &pos) const {
        long value = 0;
        while (pos < text.size() && isdigit(static_cast<unsigned char>(text[pos]))) {
            int digit = text[pos] - '0';
            value = value > (LONG_MAX - digit) / 10 ? LONG_MAX : value * 10 + digit;
            ++pos;
        }
        return value;
    }

    // Writes the insertion for the current line, then counts it.
    void InsertAndCount(FILE *out) {
        if (!numbered) {
            Write(out, text.data(), text.size());
        } else if (counter >= offset) {
            Write(out, before.data(), before.size());
            fprintf(out, "%05li", counter - offset);
            Write(out, after.data(), after.size());
        }
        if (counter < LONG_MAX) ++counter;
    }
};

} // namespace

int FileChange(const char *base, const char *ext, const char *pattern, const char *replacement) {
    size_t cut = pattern ? strlen(pattern) : 0;
    std::string with = replacement ? replacement : "";
    return EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        const char *hit = Find(line, pattern);
        if (hit == nullptr) return Write(out, line, len);
        size_t before = static_cast<size_t>(hit - line);
        Write(out, line, before);
        Write(out, with.data(), with.size());
        Write(out, hit + cut, len - before - cut);
    });
}

int FileChangeChar(const char *base, const char *ext, const char *code, const char *bytes) {
    int ch = -1;
    if (!ParseCode(code, ch)) ch = -1; // matches no byte: the file is copied as it is
    std::string with;
    if (bytes != nullptr) {
        const char *p = bytes;
        while (*p && static_cast<int>(with.size()) < MAX_REPLACEMENT_BYTES) {
            int value;
            if (sscanf(p, "%i", &value) == 1) with += static_cast<char>(value);
            const char *comma = strchr(p, ',');
            if (comma == nullptr) break;
            p = comma + 1;
        }
    }
    return EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        WriteReplacingChar(out, line, len, ch, with);
    });
}

int FileDel(const char *base, const char *ext, int n, const char *pattern) {
    size_t cut = pattern ? strlen(pattern) : 0;
    long seen = 0;
    return EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        const char *hit = Find(line, pattern);
        if (hit == nullptr || ++seen <= n) return Write(out, line, len);
        WriteWithout(out, line, len, hit, cut);
    });
}

int FileDelFormat(const char *base, const char *ext, const char *mode, const char *pattern) {
    char how = mode ? mode[0] : '\0';
    if (how != '\0' && strchr("abcl", how) == nullptr)
        return 1; // unknown mode: the file is not touched, no temporary is left
    size_t cut = pattern ? strlen(pattern) : 0;
    int ch = -1;
    if (how == 'c' && !ParseCode(pattern, ch)) ch = -1;

    int rc = EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        if (how == 'c') return WriteReplacingChar(out, line, len, ch, std::string());
        const char *hit = Find(line, pattern);
        if (hit == nullptr) return Write(out, line, len);
        switch (how) {
        case 'a':
            Write(out, line, static_cast<size_t>(hit - line) + cut);
            fputc('\n', out);
            break;
        case 'b':
            Write(out, hit, len - static_cast<size_t>(hit - line));
            break;
        case 'l':
            break;
        default:
            WriteWithout(out, line, len, hit, cut);
        }
    });
    return rc == 0 ? 0 : 1;
}

int FileInsert(const char *base, const char *ext, const char *tmpl) {
    InsertTemplate insert(tmpl);
    return EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        insert.InsertAndCount(out);
        Write(out, line, len);
    });
}

int FileSearchInsert(const char *base, const char *ext, const char *tmpl, const char *pattern) {
    InsertTemplate insert(tmpl);
    return EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        if (Find(line, pattern) != nullptr) insert.InsertAndCount(out);
        Write(out, line, len);
    });
}

int FileDelLine(const char *base, const char *ext, int n, const char *pattern) {
    long seen = 0;
    return EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        if (Find(line, pattern) == nullptr || ++seen <= n) Write(out, line, len);
    });
}

int FileDelLinePair(const char *base, const char *ext, int n, const char *open, const char *close) {
    long seen = 0, pending = 0;
    return EditFile(base, ext, [&](const char *line, size_t len, FILE *out) {
        if (Find(line, open) != nullptr) {
            if (++seen <= n) return Write(out, line, len);
            ++pending; // deleted; its closing line goes too
            return;
        }
        if (pending > 0 && Find(line, close) != nullptr) {
            --pending;
            return;
        }
        Write(out, line, len);
    });
}

FILE *OpenIOFiles(const char *base, const char *ext) {
    if (pIn != nullptr) fclose(pIn);
    if (pOut != nullptr) fclose(pOut);
    pIn = pOut = nullptr;
    g_edit.pair.pOut = nullptr; // closed above when it was still open

    MakeFileName(Fn, base, ext);
    // The stream pair's temporary is the file name and "out".
    if (FormatBounded(FnOut, sizeof FnOut, "%sout", Fn) < 0) NameTooLong(base ? base : "");

    pIn = OpenFile(nullptr, Fn, "rt", REPORT_FATAL);
    OpenTemp(&g_edit.pair, Fn, FnOut);
    pOut = g_edit.pair.pOut;
    return pOut;
}

int ReplaceInputFile() {
    FILE *in = pIn, *out = pOut;
    pIn = pOut = nullptr;
    if (out == nullptr || out != g_edit.pair.pOut) {
        if (in != nullptr) fclose(in);
        if (out != nullptr) fclose(out);
        return 1;
    }
    return PutInPlace(in, &g_edit.pair);
}

char *GenName(const char *text) {
    char *name = g_edit.genName;
    constexpr size_t cap = sizeof g_edit.genName;
    size_t len = 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : "");
    while (*p && !isalpha(*p))
        ++p;
    while (*p && len < cap - 1) {
        bool first = true;
        for (; *p && isalnum(*p) && len < cap - 1; ++p, first = false)
            name[len++] = static_cast<char>(first ? toupper(*p) : tolower(*p));
        while (*p && !isalnum(*p))
            ++p;
    }
    name[len] = '\0';
    return name;
}
