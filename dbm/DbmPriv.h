// DbmPriv.h - steps shared by the plain layer and the tagged store; not part
// of the public interface.
#pragma once

#include "Dbm.h"
#include "utils.h"

#include <cstdio>
#include <sys/stat.h>

// Scrambles the run p[0..n-1] in place (e[i] = p[i] ^ p[i+1]), from the front.
void DbmScramble(unsigned char *p, int n);
// Restores the run src[0..n-1] into dst from its end (dst may equal src).
void DbmUnscramble(unsigned char *dst, const unsigned char *src, int n);

// Builds the path of database name with extension ext into buf ("%s/db/%s.%s"
// normally; in full-path mode the file itself for "xdb" and "<name>_new" for
// any other extension). 0 when it does not fit.
int DbmBuildPath(char *buf, int size, const char *name, const char *ext);
// As DbmBuildPath, with byPath in place of the full-path mode: the handles
// DbTOpenPath made name their files whatever the mode says.
int DbmBuildPath(char *buf, int size, const char *name, const char *ext, bool byPath);

// Opens the existing database file (path as DbmBuildPath) with mode, trying up
// to 10 times a second apart. Null at once when no file is there.
FILE *OpenDataBase(const char *name, const char *ext, const char *mode, int report);

// Makes the temporary copy of database name beside it (ReplaceOpen),
// creating "<pToolPath>/db" when it is missing, and locks it: writers of one
// database take turns from here to the commit. A writer waits for the lock
// about ten seconds at most. The new file keeps the old one's mode and
// owner; a new database gets mode 666. 0 on failure, after printing "ERROR:
// can't open file, %s" (or, when another writer kept the lock, "ERROR:
// another writer keeps %s busy; it is left as it is") on standard error.
int OpenNewDataBase(const char *name, FileReplacement *rep);
// As OpenNewDataBase, name being the database file itself when byPath.
int OpenNewDataBase(const char *name, FileReplacement *rep, bool byPath);

// Flushes and syncs the temporary copy, renames it over the database and
// closes it. 0 when any step fails, after printing "ERROR: Can't write to
// %s": the copy is then removed and the database left as it was. When
// written is given, it receives the status of the new file (so that a store
// can tell its own file from one another process put there later).
int CommitNewDataBase(FileReplacement *rep, const char *name, struct stat *written = nullptr);

// Removes the temporary copy (after a failure).
void AbortNewDataBase(FileReplacement *rep);

// Creates the directory "db" in the working directory (mode 777) when the
// working directory holds no entry of that name. Normal mode only: in
// full-path mode the databases live where their paths say.
void DbmMakeWorkDb(void);

// Appends text to the memory-manager string *res of length *len, growing it.
// False when it cannot grow; *res and *len are then left as they were.
bool DbmAppendText(char **res, int *len, const char *text);

// Appends a new node to the list (*head, *tail) with a block of klen + n
// bytes for key, NUL and data, which the caller fills; pData and DataLen are
// set. Null when memory runs out: nothing is appended.
DbmLink *DbmAppendLink(DbmLink **head, DbmLink **tail, int klen, int n);

// The installed package's tool root is kept in a marked area of the library
// (DbmInstalledRootArea): the mark, then the path and its NUL, then NULs up to
// DBM_ROOT_AREA_SIZE bytes. The install step finds the mark in the installed
// library and tools and writes the prefix it installs to in place
// (dbm_settoolroot), so a program linked against the installed library finds
// its catalog without being told, wherever the package went.
#define DBM_ROOT_MARK "@(#)dorna-installed-tool-root="
constexpr int DBM_ROOT_MARK_LEN = sizeof DBM_ROOT_MARK - 1;
constexpr int DBM_ROOT_AREA_SIZE = 4096;
extern char DbmInstalledRootArea[DBM_ROOT_AREA_SIZE];
