// Dbm.h - the record database: keyed records in scrambled files.
//
// Two access layers share one module:
// - the plain layer (Dbm.cpp) works on the file itself: every operation opens
//   the database, walks it from the start and closes it again; every change
//   writes a complete new copy beside it ("<file>_new" or "<name>.xdb_new"),
//   flushes and syncs it, and renames it over the old file;
// - the tagged store (DbmT.cpp) loads a whole file into memory (the image)
//   with one read, answers lookups from the image (a scan for the first one,
//   a hash index from then on), changes the image and writes it back as a
//   whole through the same temporary-file steps.
//
// File formats (both kept byte for byte):
// - plain: records back to back, no header. Record: 16-bit body length L in
//   host order, then the body (16-bit key length K in host order, key, NUL,
//   data) scrambled as one XOR run of L bytes. L <= DBM_MAX_PLAIN_BODY.
// - tagged: 16-byte header "TXDBAA", the record count in decimal, a NUL and
//   rand() filler; then records: L and K big-endian and unscrambled, the key
//   with its NUL as one run, the data as a second run. L <= 65535.
// A run p[0..n-1] is stored as e[i] = p[i] ^ p[i+1], e[n-1] = p[n-1].
//
// Names: normally a database is a bare name, the file
// "<pToolPath>/db/<name>.xdb". A tagged store opened with DbTOpenPath is the
// file its path names, for reading and writing alike, for as long as the
// handle lives. The older full-path mode (DbmSetV4DriverPathHandling) makes
// every name a path, process-wide, until the next DbTClose of any handle
// switches it off; it stays for the callers written for it, and a host
// program has no need of it: a handle opened by name while it is on, or used
// after it went off, reads one file and writes another.
//
// Linking: the store stands on the command layer (SysCmd.h), the support
// utilities and the memory manager; the target Dorna::dbm (dorna::dbm in the
// tree) carries them in link order.
//
// Ownership: link lists, key lists, database lists and buffers handed out by
// DbmTGetRecordV come from the memory manager and belong to the caller
// (DbmFreeDbLinkList, PutMem). A DbT handle lives from DbTOpen to DbTClose.
// Nothing here is thread-safe: the walk buffer of plain images and the
// tokenizer position are process-wide.
#pragma once

#include <cstdint>
#include <ctime>

// The suite's tool root, set by the host program; databases live in its "db"
// directory. Null is taken as ".".
extern char *pToolPath;

// Full-path mode: while non-zero, database names are file paths.
extern unsigned char DbmV4DriverPathHandling;

// The tool root a program uses when it is told none, as a new stored text
// (PutMem): DORNA_TOOL_ROOT from the environment when set and not empty
// (never in a set-user-ID program); else the installed package's tool root
// (<prefix>/share/dorna of the prefix the library was installed to) when it
// holds a "db" directory; else buildRoot, or without one the tool root of the
// build the library came from, when that holds one; else the installed
// package's root. Null only when memory runs out.
char *DbmDefaultToolRoot(const char *buildRoot);

// The installed package's tool root (<prefix>/share/dorna), whether or not
// it exists. A static text.
const char *DbmInstalledToolRoot(void);

// Index of the record DbmGetNextRecord hands out next (process-wide, never
// reset).
extern int32_t Ent2Get;

// Largest plain-format body the readers take back (key length field, key,
// NUL and data together); writers refuse larger records.
constexpr int DBM_MAX_PLAIN_BODY = 65527;
// Largest tagged-format body (the 16-bit length field).
constexpr int DBM_MAX_TAGGED_BODY = 65535;
// Longest key, without its NUL, that the tagged store can find again.
constexpr int DBM_MAX_KEY = 4095;

// One record handed out by the link-list readers. pKey points to a block
// holding the key, its NUL and the data; pData points into it at the data.
struct DbmLink {
    DbmLink *pNext;  // next node, null at the end
    char *pKey;      // key, NUL, data (one block from GetMem)
    char *pData;     // first data byte inside pKey's block
    int32_t DataLen; // number of data bytes
};

// ---------------------------------------------------------------------------
// Plain layer (Dbm.cpp). Results are 1/0 flags, byte counts or null.
// ---------------------------------------------------------------------------

// Switches full-path mode on.
void DbmSetV4DriverPathHandling(void);

// Stores data under key, replacing every record with that key (the record
// moves to the end of the file). 0 on a null argument, len <= 0, a record
// larger than DBM_MAX_PLAIN_BODY, a failed write, or a file that is not empty
// but holds no readable record (another format, or damaged before its first
// record: "ERROR: no readable record in <name>; it is left as it is"), or a
// file with a damaged record ("ERROR: damaged record at offset <n> in <name>;
// it is left as it is": a rewrite would lose every record behind it); the old
// file is then left unchanged. A rewritten file keeps its mode and owner, a
// new one gets mode 666. The deletes below refuse such a file alike.
int DbmPutRecord(const char *name, const char *key, const void *data, int len);

// Removes every record whose key equals key. 1 also when none matched (the
// file is rewritten unchanged); 0 on a null argument, a missing file or a
// failed write.
int DbmDeleteRecord(const char *name, const char *key);

// Removes every record whose key begins with prefix. 1 once the database
// was opened (whatever was removed), 0 on null/empty arguments or a missing
// file.
int DbmDeleteRecords(const char *name, const char *prefix);

// Copies the data of the first record with key into dst (which must be large
// enough: at most 65525 bytes). Returns the byte count, 0 if none.
int DbmGetRecord(const char *name, const char *key, void *dst);

// Copies the data of record number Ent2Get (file order) into dst and advances
// Ent2Get. 0, with Ent2Get unchanged, when the file holds fewer records.
int DbmGetNextRecord(const char *name, void *dst);

// Data length of the first record with key, 0 if none.
int DbmGetRecordSize(const char *name, const char *key);

// New string "<sep>key1<sep>key2...<end>" of all keys in file order, or null
// for an empty or missing database. Free with PutMem.
char *DbmGetRecordList(const char *name, const char *sep, const char *end);

// New list of the records whose key contains pattern, in file order, or null
// when none. Free with DbmFreeDbLinkList.
DbmLink *DbmGetDbLinkList(const char *name, const char *pattern);
// Frees a list from DbmGetDbLinkList or DbmTGetDbLinkList (null: nothing).
void DbmFreeDbLinkList(DbmLink *list);

// Stores the data of from_key under to_key. 0 if from_key is missing or
// empty, or the store fails.
int DbmCopyRecord(const char *name, const char *from_key, const char *to_key);

// Lists the databases "<name>.xdb" in the directory "db" of the working
// directory: "a,b" (flag 0) or " a b" (flag non-zero), in directory order.
// Null if the directory cannot be read. Free with PutMem.
char *DbmGetDbList(int flag);

// Prints every record of the plain file "<name>.db" (working directory) as
// "L K ==>{key.data}" lines on standard output, unprintable bytes as ".".
void DumpDbm(const char *name);

// Take no action; kept for callers of the old interface.
void DbmCreate(void);
void DbmDelete(void);

// ---------------------------------------------------------------------------
// Tagged store (DbmT.cpp)
// ---------------------------------------------------------------------------

// Open flags.
constexpr uint32_t DBT_NOREFRESH = 2; // never reload the image from the file
constexpr uint32_t DBT_NOARCHIVE = 4; // changes stay in memory until DbmTArchiveDb

// Image types.
constexpr int DBT_EMPTY = 0;  // no file content
constexpr int DBT_PLAIN = 1;  // plain format
constexpr int DBT_TAGGED = 2; // tagged format

// An open tagged store: the documented handle. What the store keeps beside
// it (the loaded file's identity, its lookup index) is private to DbmT.cpp.
struct DbT {
    char *pName;          // name or path as given to DbTOpen (own copy)
    unsigned char flSwap; // 1: length fields are byte-reversed to host order
    uint32_t Flags;       // DBT_NOREFRESH, DBT_NOARCHIVE
    char *pImage;         // the file's bytes (memory-manager block)
    int32_t ImageSize;    // bytes of the image in use
    time_t MTime;         // modification time of the file the image came from
    int32_t Cur;          // offset of the next byte to unscramble
    int32_t Next;         // offset of the next record of a walk
    int32_t Count;        // record count of a tagged image (header)
    int32_t DbType;       // DBT_EMPTY, DBT_PLAIN or DBT_TAGGED
};

// New handle with the file's image loaded (an empty image when the file is
// missing). Null if name is null or memory runs out.
DbT *DbTOpen(const char *name, uint32_t flags);

// As DbTOpen, for the file at path itself (relative to the working
// directory or absolute, no ".xdb" added): the handle reads that file and
// writes it back through "<path>_new" beside it, whatever the full-path mode
// says and whatever other handles do. Null for a null or empty path, or when
// memory runs out.
DbT *DbTOpenPath(const char *path, uint32_t flags);

// Releases the handle, its image and index, and the writers' lock when it
// holds it (removing its unwritten temporary copy), and switches full-path
// mode off (handles of DbTOpenPath do not depend on it).
void DbTClose(DbT *db);

// Takes the writers' lock of the handle's file for a read-change-write that
// defers its write-back (DBT_NOARCHIVE): writers of the file take turns, each
// from its lock to its write-back, so none of them writes back a file it read
// before another one's change. When the file changed since the image was
// loaded (or appeared, or went), the image is loaded anew, whatever the
// flags: changes already made in it are lost, so lock before changing. The
// lock lasts until the next DbmTArchiveDb or DbTClose. A change that is
// written back at once takes the lock by itself. 1 when the handle holds the
// lock; 0 when another writer kept it for about ten seconds (a message says
// so on standard error), for a handle DbTOpen did not make, or when memory
// runs out.
int DbTLock(DbT *db);

// Reloads the image when the file changed (modification time, inode or size)
// since it was loaded, or when none is loaded. Leaves the handle unchanged
// when the file is missing.
void DbTUpDate(DbT *db);

// 0 when the handle's file is not empty but holds no readable record: it is
// neither format, its header is cut, it is damaged before its first record,
// or it cannot be read. Every change and write-back of such a handle is then
// refused ("ERROR: no readable record in <name>; it is left as it is") and
// the file stays as it is. 1 otherwise (also for a missing or empty file).
int DbTWritable(DbT *db);

// File offset of the first damaged record of the handle's file (one that is
// cut short or unsound: a length running past the end, a key not ending in
// its only NUL, ...), or -1 when every record is sound (also for a missing or
// empty file, and after the file was loaded anew). Walks the image to its end
// once. A handle whose file holds a damaged record refuses every change
// (once a walk met the record) and every write-back ("ERROR: damaged record
// at offset <n> in <name>; it is left as it is"): a copy of the records
// before it would lose all behind it. Readers still see the records before it.
long DbTDamageOffset(DbT *db);

// Sets the image type (and with it the byte order of the length fields).
void DbTSetDbType(DbT *db, int type);

// Drops every record of the image and makes it an empty image of the given
// type (DBT_PLAIN or DBT_TAGGED); the file is written only by the next
// DbmTArchiveDb or change.
void DbTClear(DbT *db, int type);

// Writes the 16-byte header (magic, Count, filler) into a tagged image.
void UpdateHeader(DbT *db);

// Writes the image back to the file (temporary copy, sync, rename); the file
// keeps its mode and owner, a new one gets mode 666. 0 on failure, for a
// handle whose file holds nothing readable or a damaged record
// (DbTDamageOffset), or when another writer kept the writers' lock; the old
// file then stays as it was. Ends the handle's lock.
int DbmTArchiveDb(DbT *db);

// Stores data under key, replacing every record with that key. 0 on a null
// argument, len <= 0, a key longer than DBM_MAX_KEY, a body too large for the
// image's format, a handle whose file holds nothing readable (DbTWritable)
// or a damaged record a walk met (DbTDamageOffset), no memory, a failed
// write-back, or a writers' lock another writer kept.
int DbmTPutRecord(DbT *db, const char *key, const void *data, int len);

// Removes every record with key. 1 if one was removed (and, unless deferred,
// written back); 0 otherwise (also when another writer kept the lock).
int DbmTDeleteRecord(DbT *db, const char *key);

// Removes every record whose key begins with prefix; 1 when the arguments
// are valid.
int DbmTDeleteRecords(DbT *db, const char *prefix);

// Copies the data of the first record with key into dst. Data length, 0 if
// not found.
int DbmTGetRecord(DbT *db, const char *key, void *dst);

// As DbmTGetRecord into *buf; when the data is larger than bufsize, *buf is
// first replaced by a new block of exactly the data length (the caller owns
// it, and still owns the old buffer).
int DbmTGetRecordV(DbT *db, const char *key, char **buf, int bufsize);

// Data length of the first record with key, 0 if not found.
int DbmTGetRecordSize(DbT *db, const char *key);

// New string "<sep>key...<end>" of all keys in image order, null if none.
char *DbmTGetRecordList(DbT *db, const char *sep, const char *end);

// As DbmTGetRecordList, for the keys beginning with one of the comma
// separated names.
char *DbmTGetRecordListS(DbT *db, const char *names, const char *sep, const char *end);

// New list of the records whose key contains pattern, in image order.
DbmLink *DbmTGetDbLinkList(DbT *db, const char *pattern);

// Stores the data of from_key under to_key; 0 if from_key is missing/empty.
int DbmTCopyRecord(DbT *db, const char *from_key, const char *to_key);
