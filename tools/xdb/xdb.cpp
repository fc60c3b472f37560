// xdb - looks at and changes record files (*.xdb) of either format from the
// command line, for the people who maintain them.
//
// Every file is addressed by its path (full-path mode). Changes are made in
// the store's image and written back once, through a synced temporary copy
// renamed over the file, so a failed command leaves the file as it was and no
// partial file behind.
#include "Dbm.h"
#include "MemMgr.h"
#include "ToolOptions.h"
#include "utils.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int EXIT_FAIL = 1;
constexpr int EXIT_USAGE = 2;

const char USAGE[] =
    "Usage: xdb COMMAND [OPTIONS] FILE [ARGUMENTS]\n"
    "Looks at and changes record files (.xdb) of the plain and the tagged format.\n"
    "\n"
    "Commands:\n"
    "  list FILE                       print every key, one per line\n"
    "  get [--text] FILE KEY           print the data of KEY: the raw bytes, or\n"
    "                                  with --text in text form and a newline\n"
    "  put FILE KEY VALUE              store VALUE under KEY\n"
    "  put --file PATH FILE KEY        store the bytes of the file PATH under KEY\n"
    "  put FILE KEY -                  store standard input under KEY\n"
    "  delete FILE KEY                 remove the record KEY\n"
    "  delete --prefix FILE PREFIX     remove every record whose key begins with PREFIX\n"
    "  copy FILE FROM TO               store the data of FROM under TO as well\n"
    "  dump FILE                       print every record as \"L K ==>{key.data}\"\n"
    "                                  (unprintable bytes as \".\")\n"
    "  dump --readable FILE            print every record as KEY = DATA in text form\n"
    "  convert --to plain|tagged FILE [OUT]\n"
    "                                  write the records in the other format, to OUT\n"
    "                                  or over FILE\n"
    "  export FILE [OUT]               write every record in text form to OUT or\n"
    "                                  standard output\n"
    "  import [--plain|--tagged] FILE [IN]\n"
    "                                  store every record of a text form read from IN\n"
    "                                  or standard input; a new FILE gets the format\n"
    "                                  named in the text form, or the one asked for\n"
    "  check FILE                      walk FILE and report its records and any\n"
    "                                  damaged record (a file with one is never\n"
    "                                  rewritten; convert it to another file)\n"
    "\n"
    "Text form: a first line \"# xdb export: format F, N records\", then one line\n"
    "per record: the key, a tab, the data. A backslash, tab, newline and carriage\n"
    "return are written \\\\ \\t \\n \\r, every other byte outside printable ASCII as\n"
    "\\xHH, and a \"#\" that begins a key as \\x23.\n"
    "\n"
    "Options come right after the command; \"--\" ends them (for a FILE, KEY or\n"
    "VALUE that begins with \"--\").\n"
    "\n"
    "Exit status: 0 success, 1 failure (missing file or key, damage, write\n"
    "error), 2 wrong usage.\n";

// One "xdb: ..." line on standard error.
[[gnu::format(printf, 1, 0)]] void Say(const char *fmt, va_list ap) {
    fputs("xdb: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
}

[[gnu::format(printf, 1, 2)]] int Fail(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    Say(fmt, ap);
    va_end(ap);
    return EXIT_FAIL;
}

[[gnu::format(printf, 1, 2)]] int Usage(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    Say(fmt, ap);
    va_end(ap);
    fputs("Try 'xdb --help'.\n", stderr);
    return EXIT_USAGE;
}

// A record as the tool handles it.
struct Record {
    std::string key;
    std::string data;
};

// The open store of one file; closed on every path out.
class Db {
  public:
    Db(const char *path, uint32_t flags) {
        DbmSetV4DriverPathHandling();
        db_ = DbTOpen(path, flags);
    }
    ~Db() {
        if (db_) DbTClose(db_);
    }
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;
    DbT *operator->() const { return db_; }
    DbT *get() const { return db_; }

  private:
    DbT *db_;
};

const char *FormatName(int type) {
    return type == DBT_PLAIN ? "plain" : type == DBT_TAGGED ? "tagged" : "empty";
}

// 1: a regular file; 0: missing; -1: there, but not a file (message given).
int FileState(const char *path) {
    struct stat st;
    if (stat(path, &st) != 0)
        return errno == ENOENT ? 0 : (Fail("%s: %s", path, strerror(errno)), -1);
    if (!S_ISREG(st.st_mode)) return Fail("%s: not a regular file", path), -1;
    return 1;
}

// For commands that read: the file must be there.
bool NeedFile(const char *path) {
    int state = FileState(path);
    if (state == 0) Fail("%s: no such file", path);
    return state == 1;
}

std::vector<Record> AllRecords(DbT *db) {
    std::vector<Record> out;
    DbmLink *list = DbmTGetDbLinkList(db, "");
    for (DbmLink *l = list; l; l = l->pNext)
        out.push_back({l->pKey, std::string(l->pData, l->DataLen)});
    DbmFreeDbLinkList(list);
    return out;
}

std::string Escape(const std::string &bytes, bool key) {
    std::string out;
    char hex[8];
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c >= 0x7f || (key && i == 0 && c == '#')) {
                snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes Escape. False, with the reason, on a broken escape.
bool Unescape(const std::string &text, std::string *out, std::string *why) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        if (++i == text.size()) return *why = "backslash at the end of a field", false;
        switch (text[i]) {
        case '\\':
            *out += '\\';
            break;
        case 't':
            *out += '\t';
            break;
        case 'n':
            *out += '\n';
            break;
        case 'r':
            *out += '\r';
            break;
        case 'x': {
            int hi = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
            int lo = hi >= 0 ? HexDigit(text[i + 2]) : -1;
            if (lo < 0) return *why = "\\x needs two hex digits", false;
            *out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return *why = std::string("unknown escape \\") + text[i], false;
        }
    }
    return true;
}

bool ReadStream(FILE *f, std::string *out) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out->append(buf, n);
    return !ferror(f);
}

bool ReadFile(const char *path, std::string *out) {
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    bool ok = ReadStream(f, out);
    fclose(f);
    return ok;
}

// Why a record cannot go into an image of the given type; null if it can.
const char *Unstorable(const Record &r, int type) {
    if (r.data.empty()) return "a record needs at least one data byte";
    if (r.key.size() > static_cast<size_t>(DBM_MAX_KEY)) return "the key is longer than 4095 bytes";
    if (memchr(r.key.data(), 0, r.key.size())) return "the key holds a NUL byte";
    size_t body = r.key.size() + 1 + r.data.size() + 2;
    size_t limit = type == DBT_PLAIN ? DBM_MAX_PLAIN_BODY : DBM_MAX_TAGGED_BODY;
    if (body > limit) {
        return type == DBT_PLAIN ? "key and data exceed the 65525 bytes a plain record holds"
                                 : "key and data exceed the 65533 bytes a tagged record holds";
    }
    return nullptr;
}

// Type a new record lands in: the image's, or tagged for an empty one.
int StoreType(DbT *db) {
    return db->DbType == DBT_PLAIN ? DBT_PLAIN : DBT_TAGGED;
}

// What the store says of a file that is not empty but holds no readable
// record: every writer leaves it as it is, and no reader shows it as empty.
const char NOTHING_READABLE[] =
    "no readable record (neither format, or damaged before its first record)";

// Whether a command may change the file behind db. Takes the writers' lock
// first, so that the records changed are the ones the file holds until this
// command writes it back; fails naming the file when another writer keeps
// the lock, or when the store refuses: a rewrite would lose all of the file
// (nothing readable) or every record behind a damaged one.
bool Changeable(DbT *db, const char *path) {
    if (!DbTLock(db)) {
        Fail("%s: cannot take the writers' lock; nothing changed", path);
        return false;
    }
    if (!DbTWritable(db)) {
        Fail("%s: %s; it is left as it is", path, NOTHING_READABLE);
        return false;
    }
    long at = DbTDamageOffset(db);
    if (at < 0) return true;
    Fail("%s: damaged record at offset %ld; it is left as it is (convert --to plain|tagged "
         "FILE OUT saves the records before it)",
         path, at);
    return false;
}

// Whether a command that shows every record may read the file behind db.
bool Showable(DbT *db, const char *path) {
    if (DbTWritable(db)) return true;
    Fail("%s: %s", path, NOTHING_READABLE);
    return false;
}

int Archive(DbT *db, const char *path) {
    if (DbmTArchiveDb(db)) return 0;
    fputc('\n', stderr); // the store's own message ends without one
    return Fail("%s: cannot write the file; it is left as it was", path);
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

int CmdList(const char *path) {
    if (!NeedFile(path)) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH);
    if (!Showable(db.get(), path)) return EXIT_FAIL;
    for (const Record &r : AllRecords(db.get()))
        printf("%s\n", Escape(r.key, false).c_str());
    return 0;
}

int CmdGet(const char *path, const char *key, bool text) {
    if (!NeedFile(path)) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH);
    std::string data;
    if (!*key || DbmTGetRecordSize(db.get(), key) == 0) {
        // No such record, one without data (only made by hand), or one with
        // an empty key (the plain layer stores one, the store's lookups take
        // none): the first record with the key, as list shows it.
        std::vector<Record> recs = AllRecords(db.get());
        auto it =
            std::find_if(recs.begin(), recs.end(), [&](const Record &r) { return r.key == key; });
        if (it == recs.end()) return Fail("%s: no record '%s'", path, key);
        data = it->data;
    } else {
        char stackBuf[1];
        char *buf = stackBuf;
        int n = DbmTGetRecordV(db.get(), key, &buf, 0);
        data.assign(buf, n);
        if (buf != stackBuf) PutMem(buf);
    }
    if (text) {
        printf("%s\n", Escape(data, false).c_str());
    } else {
        fwrite(data.data(), 1, data.size(), stdout);
    }
    return fflush(stdout) == 0 ? 0 : Fail("cannot write standard output");
}

int CmdPut(const char *path, const char *key, const std::string &value) {
    if (FileState(path) < 0) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH | DBT_NOARCHIVE);
    if (!db.get()) return Fail("out of memory");
    if (!Changeable(db.get(), path)) return EXIT_FAIL;
    Record r{key, value};
    if (const char *why = Unstorable(r, StoreType(db.get()))) return Fail("%s: %s", path, why);
    if (!DbmTPutRecord(db.get(), key, value.data(), static_cast<int>(value.size())))
        return Fail("%s: cannot store '%s'", path, key);
    return Archive(db.get(), path);
}

int CmdDelete(const char *path, const char *key, bool prefix) {
    if (!NeedFile(path)) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH | DBT_NOARCHIVE);
    if (!*key) return Usage(prefix ? "an empty prefix would remove every record" : "empty key");
    if (!Changeable(db.get(), path)) return EXIT_FAIL;
    if (prefix) {
        int32_t before = db->ImageSize;
        DbmTDeleteRecords(db.get(), key);
        if (db->ImageSize == before) return 0; // nothing began with it
    } else if (!DbmTDeleteRecord(db.get(), key)) {
        return Fail("%s: no record '%s'", path, key);
    }
    return Archive(db.get(), path);
}

int CmdCopy(const char *path, const char *from, const char *to) {
    if (!NeedFile(path)) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH | DBT_NOARCHIVE);
    if (!Changeable(db.get(), path)) return EXIT_FAIL;
    if (!*from || !DbmTGetRecordSize(db.get(), from))
        return Fail("%s: no record '%s' with data", path, from);
    if (!DbmTCopyRecord(db.get(), from, to)) return Fail("%s: cannot store '%s'", path, to);
    return Archive(db.get(), path);
}

int CmdDump(const char *path, bool readable) {
    if (!NeedFile(path)) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH);
    if (!Showable(db.get(), path)) return EXIT_FAIL;
    std::vector<Record> recs = AllRecords(db.get());
    if (readable) printf("%s: %s, %zu records\n", path, FormatName(db->DbType), recs.size());
    for (const Record &r : recs) {
        if (readable) {
            printf("%s = %s\n", Escape(r.key, false).c_str(), Escape(r.data, false).c_str());
            continue;
        }
        // The form DumpDbm prints: body length, key length, then key, NUL
        // and data with every unprintable byte as ".".
        int klen = static_cast<int>(r.key.size()) + 1;
        printf("%i %i ==>{", klen + static_cast<int>(r.data.size()) + 2, klen);
        std::string bytes = r.key + std::string(1, '\0') + r.data;
        for (char c : bytes)
            putchar(c >= 0x20 && c < 0x7f ? c : '.');
        printf("}\n");
    }
    return 0;
}

// Writes recs as the only records of path, in the given format (with
// keepOthers, beside the records path holds, in its format; a new or empty
// file takes the given one). Null recs: the records path itself holds, read
// under the writers' lock. Later records with a key met before are left out
// (lookups only ever see the first one).
int WriteAll(const char *path, const std::vector<Record> *given, int type, bool keepOthers) {
    if (FileState(path) < 0) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH | DBT_NOARCHIVE);
    if (!db.get()) return Fail("out of memory");
    if (!Changeable(db.get(), path)) return EXIT_FAIL;
    const std::vector<Record> recs = given ? *given : AllRecords(db.get());
    if (!keepOthers || db->DbType == DBT_EMPTY) DbTClear(db.get(), type);
    if (keepOthers) type = db->DbType;
    for (const Record &r : recs) {
        if (const char *why = Unstorable(r, type))
            return Fail("record '%s': %s; nothing written", Escape(r.key, false).c_str(), why);
    }
    std::set<std::string> seen;
    size_t skipped = 0;
    for (const Record &r : recs) {
        if (!seen.insert(r.key).second) {
            ++skipped;
            continue;
        }
        if (!DbmTPutRecord(db.get(), r.key.c_str(), r.data.data(), static_cast<int>(r.data.size())))
            return Fail("record '%s': cannot store it; nothing written",
                        Escape(r.key, false).c_str());
    }
    if (skipped)
        fprintf(stderr, "xdb: %zu later records with a key met before were left out\n", skipped);
    return Archive(db.get(), path);
}

int CmdConvert(const char *path, const char *out, const char *to) {
    int type = strcmp(to, "plain") == 0 ? DBT_PLAIN : strcmp(to, "tagged") == 0 ? DBT_TAGGED : -1;
    if (type < 0) return Usage("--to takes plain or tagged, not '%s'", to);
    if (!NeedFile(path)) return EXIT_FAIL;
    std::vector<Record> recs;
    {
        Db db(path, DBT_NOREFRESH);
        if (!Showable(db.get(), path)) return EXIT_FAIL;
        if (out) recs = AllRecords(db.get());
    }
    // In place, the records are read again under the writers' lock.
    return WriteAll(out ? out : path, out ? &recs : nullptr, type, false);
}

int CmdExport(const char *path, const char *out) {
    if (!NeedFile(path)) return EXIT_FAIL;
    Db db(path, DBT_NOREFRESH);
    if (!Showable(db.get(), path)) return EXIT_FAIL;
    std::vector<Record> recs = AllRecords(db.get());
    std::string text = "# xdb export: format " + std::string(FormatName(db->DbType)) + ", " +
                       std::to_string(recs.size()) + " records\n";
    for (const Record &r : recs)
        text += Escape(r.key, true) + "\t" + Escape(r.data, false) + "\n";
    if (!out) {
        fwrite(text.data(), 1, text.size(), stdout);
        return fflush(stdout) == 0 ? 0 : Fail("cannot write standard output");
    }
    // Written beside the target and renamed, so a failure leaves no part.
    // The temporary's name is easy to guess (in /tmp, say): the replacement
    // makes it anew and never writes through a link or into a file someone
    // else put there.
    std::string tmp = std::string(out) + ".tmp" + std::to_string(getpid());
    FileReplacement rep;
    if (!ReplaceOpen(&rep, out, tmp.c_str(), -1, 0))
        return Fail("%s: %s", rep.Failed == REPLACE_FAILED_LINK ? out : tmp.c_str(),
                    rep.Failed == REPLACE_FAILED_LINK ? "a symbolic link, which is not replaced"
                                                      : strerror(rep.Errno));
    if (fwrite(text.data(), 1, text.size(), rep.pOut) != text.size()) {
        int err = errno;
        ReplaceAbort(&rep);
        return Fail("%s: %s", out, strerror(err));
    }
    if (!ReplaceCommit(&rep, nullptr)) return Fail("%s: %s", out, strerror(rep.Errno));
    return 0;
}

int CmdImport(const char *path, const char *in, int forced) {
    std::string text;
    if (in ? !ReadFile(in, &text) : !ReadStream(stdin, &text))
        return Fail("%s: %s", in ? in : "standard input", strerror(errno));
    const char *src = in ? in : "standard input";
    std::vector<Record> recs;
    int type = DBT_TAGGED;
    size_t pos = 0;
    for (int line = 1; pos < text.size(); ++line) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string l = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (l.empty()) continue;
        if (l[0] == '#') {
            if (l.find("format plain") != std::string::npos) type = DBT_PLAIN;
            continue;
        }
        size_t tab = l.find('\t');
        if (tab == std::string::npos) return Fail("%s:%d: no tab between key and data", src, line);
        Record r;
        std::string why;
        if (!Unescape(l.substr(0, tab), &r.key, &why) ||
            !Unescape(l.substr(tab + 1), &r.data, &why))
            return Fail("%s:%d: %s", src, line, why.c_str());
        if (memchr(r.key.data(), 0, r.key.size()))
            return Fail("%s:%d: the key holds a NUL byte", src, line);
        recs.push_back(std::move(r));
    }
    if (forced) type = forced;
    // Whether the file is new or empty is decided under the writers' lock:
    // another import may have made it meanwhile.
    return WriteAll(path, &recs, type, true);
}

// Restores a scrambled run (e[i] = p[i] ^ p[i+1]).
std::string Unscramble(std::string run) {
    for (size_t i = run.size(); i-- > 1;)
        run[i - 1] = static_cast<char>(run[i - 1] ^ run[i]);
    return run;
}

unsigned Le16(const std::string &raw, size_t off) {
    return static_cast<unsigned char>(raw[off]) | static_cast<unsigned char>(raw[off + 1]) << 8;
}
unsigned Be16(const std::string &raw, size_t off) {
    return static_cast<unsigned char>(raw[off]) << 8 | static_cast<unsigned char>(raw[off + 1]);
}

// Why the record at off, where the walk stopped, is no record, when that is
// more than its lengths running past the end; null otherwise.
const char *WhyNotARecord(const std::string &raw, size_t off, bool tagged, char *why, size_t size) {
    std::string key;
    if (tagged) {
        if (off + 4 > raw.size()) return nullptr;
        size_t len = Be16(raw, off), klen = Be16(raw, off + 2);
        if (off + 2 + len > raw.size() || klen < 1 || klen + 2 > len) return nullptr;
        key = Unscramble(raw.substr(off + 4, klen));
    } else {
        if (off + 2 > raw.size()) return nullptr;
        size_t len = Le16(raw, off);
        if (off + 2 + len > raw.size()) return nullptr;
        if (len > static_cast<size_t>(DBM_MAX_PLAIN_BODY)) {
            snprintf(why, size, "a body of %zu bytes, over the %d a plain record may hold", len,
                     DBM_MAX_PLAIN_BODY);
            return why;
        }
        if (len < 3) return nullptr;
        std::string body = Unscramble(raw.substr(off + 2, len));
        size_t klen = Le16(body, 0);
        if (klen < 1 || klen + 2 > len) return nullptr;
        key = body.substr(2, klen);
    }
    if (key.back() != '\0' || key.find('\0') == key.size() - 1) return nullptr;
    snprintf(why, size, "its key holds a NUL byte");
    return why;
}

int CmdCheck(const char *path) {
    if (!NeedFile(path)) return EXIT_FAIL;
    std::string raw;
    if (!ReadFile(path, &raw)) return Fail("%s: %s", path, strerror(errno));
    Db db(path, DBT_NOREFRESH);
    if (!db.get()) return Fail("out of memory");
    std::vector<Record> recs = AllRecords(db.get());
    printf("%s: %s, %zu records, %zu bytes\n", path, FormatName(db->DbType), recs.size(),
           raw.size());
    bool damaged = false;
    size_t whole = static_cast<size_t>(db->ImageSize);
    if (db->DbType == DBT_TAGGED && raw.size() < 16) {
        printf("%s: damaged header: %zu of 16 bytes\n", path, raw.size());
        damaged = true;
    } else if (db->DbType != DBT_EMPTY && whole < raw.size()) {
        printf("%s: damaged tail: %zu bytes from offset %zu are not whole records\n", path,
               raw.size() - whole, whole);
        char why[128];
        if (WhyNotARecord(raw, whole, db->DbType == DBT_TAGGED, why, sizeof why))
            printf("%s: the record at offset %zu is none: %s\n", path, whole, why);
        damaged = true;
    }
    if (db->DbType == DBT_TAGGED && raw.size() >= 7) {
        long count = strtol(raw.c_str() + 6, nullptr, 10);
        if (count != static_cast<long>(recs.size())) {
            printf("%s: the header counts %ld records\n", path, count);
            damaged = true;
        }
    }
    if (!DbTWritable(db.get())) {
        printf("%s: no readable record: it will not be rewritten\n", path);
        damaged = true;
    } else if (long at = DbTDamageOffset(db.get()); at >= 0) {
        printf("%s: damaged record at offset %ld: it will not be rewritten\n", path, at);
        damaged = true;
    }
    return damaged ? EXIT_FAIL : 0;
}

// Options of a command: the words right after the command name that begin
// with "--", up to a "--" that ends them. VALUE-taking options take the next
// word.
constexpr unsigned OPT_TEXT = 1;
constexpr unsigned OPT_PREFIX = 2;
constexpr unsigned OPT_READABLE = 4;
constexpr unsigned OPT_PLAIN = 8;
constexpr unsigned OPT_TAGGED = 16;
constexpr unsigned OPT_FILE = 32; // --file PATH
constexpr unsigned OPT_TO = 64;   // --to FORMAT

struct Options {
    unsigned given = 0; // OPT_* bits
    std::string file, to;
};

int ParseOptions(std::vector<std::string> *args, Options *o) {
    const ToolOption known[] = {
        {"--text", OPT_TEXT, nullptr},         {"--prefix", OPT_PREFIX, nullptr},
        {"--readable", OPT_READABLE, nullptr}, {"--plain", OPT_PLAIN, nullptr},
        {"--tagged", OPT_TAGGED, nullptr},     {"--file", OPT_FILE, &o->file},
        {"--to", OPT_TO, &o->to},
    };
    std::string bad;
    switch (ToolParseOptions(known, std::size(known), args, &o->given, &bad)) {
    case TOOLOPT_UNKNOWN:
        return Usage("unknown option '%s'", bad.c_str());
    case TOOLOPT_NO_VALUE:
        return Usage("%s needs a value", bad.c_str());
    default:
        return 0;
    }
}

using Args = std::vector<std::string>;

// The optional last argument, or null.
const char *Optional(const Args &a, size_t i) {
    return a.size() > i ? a[i].c_str() : nullptr;
}

int RunList(const Args &a, const Options &) {
    return CmdList(a[0].c_str());
}
int RunGet(const Args &a, const Options &o) {
    return CmdGet(a[0].c_str(), a[1].c_str(), o.given & OPT_TEXT);
}
int RunDelete(const Args &a, const Options &o) {
    return CmdDelete(a[0].c_str(), a[1].c_str(), o.given & OPT_PREFIX);
}
int RunCopy(const Args &a, const Options &) {
    return CmdCopy(a[0].c_str(), a[1].c_str(), a[2].c_str());
}
int RunDump(const Args &a, const Options &o) {
    return CmdDump(a[0].c_str(), o.given & OPT_READABLE);
}
int RunConvert(const Args &a, const Options &o) {
    return CmdConvert(a[0].c_str(), Optional(a, 1), o.to.c_str());
}
int RunExport(const Args &a, const Options &) {
    return CmdExport(a[0].c_str(), Optional(a, 1));
}
int RunCheck(const Args &a, const Options &) {
    return CmdCheck(a[0].c_str());
}

int RunImport(const Args &a, const Options &o) {
    int forced = o.given & OPT_PLAIN ? DBT_PLAIN : o.given & OPT_TAGGED ? DBT_TAGGED : 0;
    return CmdImport(a[0].c_str(), Optional(a, 1), forced);
}

int RunPut(const Args &a, const Options &o) {
    std::string value;
    if (o.given & OPT_FILE) {
        if (!ReadFile(o.file.c_str(), &value))
            return Fail("%s: %s", o.file.c_str(), strerror(errno));
    } else {
        value = a[2];
        if (value == "-") {
            value.clear();
            if (!ReadStream(stdin, &value)) return Fail("standard input: %s", strerror(errno));
        }
    }
    return CmdPut(a[0].c_str(), a[1].c_str(), value);
}

// Usage checks that come before the argument count; null when none fails.
const char *PutArity(const Options &o, size_t n) {
    if (o.given & OPT_FILE) return n == 2 ? nullptr : "put --file PATH takes FILE KEY";
    return n == 3 ? nullptr : "put takes FILE KEY VALUE, FILE KEY - or --file PATH FILE KEY";
}
const char *ConvertNeedsTo(const Options &o, size_t) {
    return o.given & OPT_TO ? nullptr : "convert needs --to plain|tagged";
}
const char *ImportOneFormat(const Options &o, size_t) {
    return (o.given & OPT_PLAIN) && (o.given & OPT_TAGGED)
               ? "import takes --plain or --tagged, not both"
               : nullptr;
}

// One subcommand: its name, the options it takes, a usage check that comes
// first (may be null), how many arguments it takes, the usage text for a
// wrong count, and its handler.
struct Command {
    const char *name;
    unsigned options;
    const char *(*precheck)(const Options &, size_t);
    size_t minArgs, maxArgs;
    const char *usage;
    int (*run)(const Args &, const Options &);
};

const Command COMMANDS[] = {
    {"list", 0, nullptr, 1, 1, "list takes FILE", RunList},
    {"get", OPT_TEXT, nullptr, 2, 2, "get takes [--text] FILE KEY", RunGet},
    {"put", OPT_FILE, PutArity, 2, 3,
     "put takes FILE KEY VALUE, FILE KEY - or --file PATH FILE KEY", RunPut},
    {"delete", OPT_PREFIX, nullptr, 2, 2, "delete takes FILE KEY or --prefix FILE PREFIX",
     RunDelete},
    {"copy", 0, nullptr, 3, 3, "copy takes FILE FROM TO", RunCopy},
    {"dump", OPT_READABLE, nullptr, 1, 1, "dump takes [--readable] FILE", RunDump},
    {"convert", OPT_TO, ConvertNeedsTo, 1, 2, "convert takes --to plain|tagged FILE [OUT]",
     RunConvert},
    {"export", 0, nullptr, 1, 2, "export takes FILE [OUT]", RunExport},
    {"import", OPT_PLAIN | OPT_TAGGED, ImportOneFormat, 1, 2,
     "import takes [--plain|--tagged] FILE [IN]", RunImport},
    {"check", 0, nullptr, 1, 1, "check takes FILE", RunCheck},
    {nullptr, 0, nullptr, 0, 0, nullptr, nullptr},
};

int Run(const std::string &cmd, Args args) {
    Options o;
    if (int rc = ParseOptions(&args, &o)) return rc;
    const Command *c = COMMANDS;
    while (c->name && cmd != c->name)
        ++c;
    if (!c->name) return Usage("unknown command '%s'", cmd.c_str());
    // Each command accepts only its own options.
    if (o.given & ~c->options) return Usage("an option does not belong to %s", cmd.c_str());
    if (const char *why = c->precheck ? c->precheck(o, args.size()) : nullptr)
        return Usage("%s", why);
    if (args.size() < c->minArgs || args.size() > c->maxArgs) return Usage("%s", c->usage);
    return c->run(args, o);
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string &s : args) {
        if (s == "--") break;
        if (s == "-h" || s == "--help") {
            fputs(USAGE, stdout);
            return 0;
        }
    }
    if (args.empty()) return Usage("no command given");
    std::string cmd = args[0];
    args.erase(args.begin());
    return Run(cmd, std::move(args));
}
