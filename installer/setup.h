// setup.h - the installer `setup`: its process-wide state and every step.
//
// The installer is one straight run (main in setup.cpp): agreement, log and
// command table, command line, previous installation, space check, process
// guard, relocation, copy and unpack of the pieces, package list, print-system
// flags, queue scripts, final modes, clean-up. Every stop is an exit of the
// process with status 0 (normal end or the user's own choice), 1 (a failure
// that stopped the installation) or 2 (a bad command-line argument).
//
// Lifecycle: main fills the path globals once; they are texts of the string
// store and live until the process ends. pCurrentInstallDir being set means
// an upgrade of an existing installation, null means a fresh installation;
// every step after locatePreviousInstallation reads it. The message tables
// and the agreement texts are constant data generated at build time from the
// UTF-8 text files in installer/nls and installer/eula.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "NlsLang.h"

// ---------------------------------------------------------------------------
// Fixed names
// ---------------------------------------------------------------------------

#define SETUP_VERSION "4.30.09"            // printed by "-v"
#define SETUP_MAKER "Dorna"                // maker word in every suite path
#define SETUP_APPNAME "dpxx"               // application directory name
#define SETUP_ARCHIVE "DornaLinuxi386Dpxx" // base name of the joined archive
#define SETUP_PKGDIR "pkg"                 // package directory in the work dir
#define SETUP_WELLKNOWN "/usr/Dorna/dpxx"  // well-known location of the suite

// Number of entries of each message table.
#define NLS_MSG_COUNT 71

// ---------------------------------------------------------------------------
// Shared state and checks (InstallState.cpp): what every step reads, the rules
// a path passes before it is used. my_name and flUseLog belong to the log
// (utils.h).
// ---------------------------------------------------------------------------

extern char *pDornaInstallDir;         // work directory, default /tmp/DornaInstall
extern char *pPathToSetup;             // install site: directory of the program file
extern char *pCmdLineInstallDir;       // install root named on the command line, or null
extern char *pCurrentInstallDir;       // install root of the previous installation, or null
extern char *pTargetInstallDir;        // install root of this installation
extern char *pAppDir;                  // <pTargetInstallDir>/Dorna/dpxx
extern unsigned char flCreatedTmpDir;  // the work area named on the command line was created by us
extern const char *InstallInfo[6];     // help lines for an installation-directory entry, null-ended
extern const char *InstallSiteInfo[5]; // help lines for an installation-site entry, null-ended
extern const char *pBinaryInstanceCheckList; // suite programs that must not run during an upgrade
extern unsigned char
    flInstallStopped; // the installation stopped without the user's choice (not root)

// Set when the user is not root; ends a running menu loop of the text-menu
// engine. Defined weak here so that the engine's own definition wins when it
// is linked in.
extern unsigned char flExitTextMenu;

// The longest path the installer builds, terminator included: the
// application directory with the longest name the installer writes into it
// must fit, or the run stops with status 1 before anything is installed.
#define SETUP_PATH_MAX 4096

// 1 when text is a non-empty path made only of letters, digits and
// "/ . _ - + , @ :", so that it can stand unquoted on a shell command line.
int isShellSafePath(const char *text);

// Returns when path is null or isShellSafePath; otherwise prints
// "ERROR: the <what> "<path>" may hold only letters, digits and the
// characters / . _ - + , @ :" on standard error and exits with status.
void requireShellSafePath(const char *what, const char *path, int status);

// 1 when path, or a directory above it (each as far as it exists, and where
// a link on the way really leads), could be changed by someone other than
// root and the running user: owned by another user, or writable by others
// without being sticky and root's (as /tmp is). Then *bad is the first such
// directory (a stored string) and *why the reason. 0 when none is; a relative
// path is not looked at (0).
int findUntrustedDirectory(const char *path, char **bad, const char **why);

// Returns when findUntrustedDirectory finds no fault with path; otherwise
// prints "ERROR: the <what> <path> cannot be used: <dir> is <why>, ..." on
// standard error and exits with status.
void requireTrustedPath(const char *what, const char *path, int status);

// As requireTrustedPath for the install root: root, every directory above
// it and, as far as they exist, <root>/Dorna and <root>/Dorna/dpxx below it.
// The message names the install root.
void requireTrustedInstallRoot(const char *root, int status);

// 1 when path is a real directory (not a link) owned by the running user.
int isPrivateDirectory(const char *path);

// Stops the run with status 1, before anything is installed, when a path the
// installer builds from the install root or the work directory would not fit
// its buffer (SETUP_PATH_MAX, the line reader's 512 characters).
void requireBuildablePaths(void);

// Steps that failed without stopping the run (a copy, a touch or a tree copy
// of the package list). Each is logged as a warning when it happens, nothing
// more is done to the path it should have made, and the run ends with status
// 1 after a summary that names every one of them.
// noteFailedStep records the step (described by the printf-style text) and
// the path it should have made; isFailedPath tells whether a path is one of
// them; reportFailedSteps prints the summary on standard error and in the
// log and returns the number of failed steps (0: nothing is printed).
[[gnu::format(printf, 2, 3)]] void noteFailedStep(const char *path, const char *format, ...);
int isFailedPath(const char *path);
int reportFailedSteps(void);
// The paths of the failed steps, in the order they failed.
std::vector<std::string> failedStepPaths(void);

// Keeps the reason the run is about to stop (a printf-style text; leading
// and trailing line ends are dropped) for the report; with STOP_PRINT also
// prints "ERROR: <reason>" on standard error, with STOP_LOG writes it to the
// run log (never before the log and the command table are set up: a
// refused program name would name the log). The caller then ends the run.
constexpr int STOP_PRINT = 1;
constexpr int STOP_LOG = 2;
[[gnu::format(printf, 2, 3)]] void noteStopReason(int how, const char *format, ...);

// The failed steps (noteFailedStep) followed by the reasons the run stopped
// (noteStopReason), in the order they happened.
std::vector<std::string> failedStepTexts(void);

// Ends the run when standard input ends at a question: nobody chose
// anything, so the run neither goes on nor counts as the user's own quit.
// Prints "ERROR: no answer: standard input ended at the question" on
// standard error and exits with status 1.
[[noreturn]] void stopForNoAnswer(void);

// ---------------------------------------------------------------------------
// The report of --report (Report.cpp)
// ---------------------------------------------------------------------------

extern unsigned char flChangedHost; // this run changed the installation on disk
extern char *pMovedFrom;            // install root the installation was moved from, or null

// The text as a JSON string with its quotes: '"', '\\' and every control
// character escaped, each byte that is not part of valid UTF-8 written as
// U+FFFD; "null" for null.
std::string jsonQuote(const char *text);

// Refuses (one line on standard error, status 2) a report path that is a
// link or not a plain file, or whose directory is missing, not a real
// directory, or writable by anyone but root and the running user (sticky or
// not), or lies below a directory findUntrustedDirectory finds fault with.
// Does nothing without --report.
void requireReportPath(void);

// Starts the clock and makes every later exit of the process write the
// report (writeReport with the exit status). Does nothing without --report.
void startReport(void);

// Replaces pReportPath atomically with the report of a run that ends with
// status. 1 written; 0 after a message on standard error.
int writeReport(int status);

// ---------------------------------------------------------------------------
// Driver steps (setup.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Options (Options.cpp): one table of the options that come before the work
// area and the install root, its parser and its help
// ---------------------------------------------------------------------------

#define SETUP_DEFAULT_WAIT 300L // seconds --wait gives the suite's programs to end

extern unsigned char flAcceptAgreement; // --accept-agreement: no agreement shown, no question read
extern unsigned char flStopOldDaemon;   // --stop-old-daemon: an old DPrintD is stopped
extern long nWaitSeconds;               // --wait: longest wait for running programs
extern unsigned char flWaitGiven;       // --wait was given
extern char *pReportPath;               // --report: full path of the report, or null
extern unsigned char flVerify;          // --verify: compare with the manifest, change nothing
extern unsigned char flUninstall;       // --uninstall: remove what the manifest lists
extern unsigned char flPreview;         // --preview: install on layers, list the changes
extern unsigned char flForce;           // --force: --uninstall removes changed files too

// One option: its name ("--wait"), the name of its argument in the help
// (null for an option without one), the flag it sets to 1 (or null), the
// handler that takes its argument (or null; it refuses a bad one through
// refuseCommandLine), and its help text (lines joined by "\n").
struct SetupOption {
    const char *name;
    const char *argName;
    unsigned char *flag;
    void (*take)(const char *arg);
    const char *help;
};

// The option table, ended by an entry whose name is null.
const SetupOption *SetupOptions(void);

// Reads the options at the front of the command line ("--name VALUE" or
// "--name=VALUE"); "--" ends them. Returns the program's name followed by
// the positional words, null-ended, for the positional grammar. Refuses
// (status 2) an unknown option, a missing or bad value, and before "--" a
// positional word that begins with "-" other than "-v".
std::vector<char *> parseSetupOptions(int argc, char **argv);

// Prints one entry per option of the table, its help indented below it.
void printOptionHelp(FILE *out);

// Reads the command line: sets pCmdLineInstallDir, pDornaInstallDir and
// flCreatedTmpDir; a relative work area or install root is taken from the
// working directory and stored as a full path. Exits 0 after "-v"; exits 2
// when a work area can neither be found nor created, or when a path argument
// holds characters that are not safe on a shell command line.
void parseCommandLineOptions(int argc, char **argv);

// Prints the usage text of the program (its command-line forms, what the
// work area and the install root are, where the log goes, the exit
// statuses) on out. The program's name is my_name, "setup" while unset.
void printUsage(FILE *out);

// Refuses the command line: prints "ERROR: <message>", an empty line and
// the usage text on standard error and ends the process with status 2.
[[noreturn, gnu::format(printf, 1, 2)]] void refuseCommandLine(const char *format, ...);

// Refuses (status 2) options that make no sense together: two of
// --verify, --uninstall and --preview, --force without --uninstall, more
// positional words than --verify or --uninstall take (argc counts the
// program's name and the positional words).
void checkOperationWords(int argc);

// The install root a command-line word names, as the installation takes
// it: absolute, the suite's directories at its end dropped (a stored string).
char *commandLineRoot(const char *word);

// The work area and the install root the command line names, absolute (the
// root with the suite's directories at its end dropped), or empty when it
// names none. Refuses (status 2) what parseCommandLineOptions would refuse.
// Makes nothing.
void commandLinePlaces(int argc, char **argv, std::string *workArea, std::string *root);

// Install root of the previous installation as locatePreviousInstallation
// finds it (a stored string), or null; changes nothing on the host.
char *findPreviousInstallationRoot(void);

// --preview (Preview.cpp): runs this installation (the agreement included
// unless flAcceptAgreement) in private mount and PID namespaces over
// copy-on-write layers of /usr, /var, /etc and the top directories of the
// install root, the previous installation and the work area, with a fresh
// /tmp; then prints every path it would create ("+ path"), change ("~ path
// (content, mode, ...)") or remove ("- path") and the status it would have
// ended with, and returns that status. The host's files, processes and
// mounts stay as they were. Ends the process with status 2 and the reason
// where no preview can be made (not root, no namespaces or overlays).
int previewInstallation(int argc, char **argv);

// Looks at the command line before the agreement is shown: "-h" or
// "--help" before "--" prints the usage text on standard output and exits
// 0; then the options are read (parseSetupOptions). Returns the program's
// name and the positional words, null-ended.
std::vector<char *> checkCommandLineOptions(int argc, char **argv);

// Install root of the previous installation (a stored string), or null when
// there is none. Removes a dangling link at the well-known location.
char *locatePreviousInstallation(void);

// Cuts text in place at "dpxx", then at "Dorna", then drops one trailing "/"
// (never the only character). Returns text; null for null.
char *StripToBaseName(char *text);

// Makes the work directory afresh, copies the pieces of the install site into
// it and runs Install. Exits 1 when the work directory is not a private
// directory of ours or a copy fails. Returns 0.
int installFromSite(const char *work);

// Joins, unpacks and installs the package. 0 when it ran to its end or the
// user is not root; 1 when the package list stopped it.
int Install(void);

// Removes the work directory and runs the suite's queue tool (-upgrade, -clean).
void DornaClean(const char *work);

// Before the agreement is asked: refuses, with a message and status 2, a work
// area of the command line (or the default /tmp) that findUntrustedDirectory
// finds fault with. Another user who can rename a directory on the way could
// swap the work directory for one of his own while the installer runs as root.
void checkWorkAreaBeforeAsking(int argc, char **argv);

// Before the agreement is asked: refuses, with a message and status 2, an
// install root of the command line that requireTrustedInstallRoot finds fault
// with. Another user who can rename a directory on the way could swap the
// application directory, and with it what becomes set-user-ID root.
void checkInstallRootBeforeAsking(int argc, char **argv);

// Catches SIGINT, SIGTERM, SIGHUP and SIGQUIT for the rest of the run, and
// stops the run, as for them, after a command of the command table (or a
// decompression or queue-tool line) that the user's interrupt or quit ended.
// Either way the run logs "ERROR: interrupted by SIG<name>; the installation
// stops", removes the work directory it made, prints the summary of failed
// steps (the interrupt among them) and ends with status 1. A signal that
// comes while a command runs takes effect when the command has ended.
void catchStopSignals(void);

// The lock that lets one installation run at a time (a record lock on
// SETUP_LOCK_FILE, which the system lets go when the process ends, however
// it ends).
#define SETUP_LOCK_FILE "/run/DornaSetup.lock"

// Takes the lock for this run, before the agreement and before the log is
// started (a second run must not empty the first one's log). When another
// run holds it, prints "ERROR: another setup is running (process ID <pid>);
// this one stops before it changes anything" on standard error and exits 1.
// Where the lock file cannot be made (not root: such a run installs
// nothing), the run goes on without it.
void takeInstallLock(void);

// Before the agreement is asked: refuses, with a message naming it and status
// 2, a run log /tmp/<my_name>.log that the log writer could not make because
// a directory with contents stands at its name (an empty one is removed).
void checkRunLogBeforeAsking(void);

// Removes the work directory (rm -rf, logged) and, when this run made the
// work area, the work area if it is then empty. Runs from DornaClean and,
// for every other exit after installFromSite made the directory, from an
// exit handler that first checks the directory is still the one made.
void removeWorkDirectory(const char *work);

// Right before each use of the work directory: exits 1 when it is no longer
// the directory installFromSite made and checked, or when a directory above
// it has become untrusted. Does nothing before installFromSite made it.
void requireSameWorkDirectory(void);

// ---------------------------------------------------------------------------
// Manifest (Manifest.cpp): what the installation made, for --verify and
// --uninstall. Its format is described at the top of Manifest.cpp.
// ---------------------------------------------------------------------------

#define SETUP_MANIFEST_DIR "/var/lib/" SETUP_MAKER
#define SETUP_MANIFEST SETUP_MANIFEST_DIR "/" SETUP_APPNAME ".manifest"
#define MANIFEST_FORMAT 1 // the format version the header names

enum ManifestKind { MANIFEST_FILE, MANIFEST_DIR, MANIFEST_LINK, MANIFEST_OTHER, MANIFEST_FAILED };

// One path of the manifest.
struct ManifestEntry {
    std::string path;          // the real path, unescaped
    ManifestKind kind = MANIFEST_FAILED;
    unsigned mode = 0;         // permission bits (07777)
    std::string owner, group;  // names (numbers when the host has no name), escaped
    long long size = -1;       // bytes of a file, length of a link's target; -1 otherwise
    std::string data;          // SHA-256 hex of a file, target of a link, else empty
};

struct Manifest {
    int format = 0;
    std::string suite, root, appDir, printSystem, date; // unescaped header values
    std::vector<ManifestEntry> entries;                 // sorted by escaped path
};

// The bytes of text with blanks, control characters, bytes above 0x7e and
// "\\" written as "\\ooo" (three octal digits): one word of plain
// printable ASCII for any bytes.
std::string escapeManifestText(const char *text, size_t size);
// The reverse; 0 when text holds a blank, a control character, a bad escape
// or an escape of a byte that needs none.
int unescapeManifestText(const std::string &text, std::string *out);

// The name of a user (group: of a group) as the manifest writes it, the
// number when the host has no name for it; looked up once per id.
std::string manifestOwnerName(unsigned id, bool group);

// Describes path as it is now (lstat: a link is not followed; the digest of
// a regular file). 0 when it cannot be examined or read.
int describeInstalledPath(const char *path, ManifestEntry *e);

// Records a path that a step made outside the application directory (a
// launcher, a link, a tree copy); the manifest lists it where it really is.
void noteInstalledPath(const char *path);

// From now on every exit of the process writes the manifest, unless the
// installation stopped before it began (flInstallStopped).
void armManifest(void);

// Fills m with what the installation under pTargetInstallDir made. Returns 1.
int collectManifest(Manifest *m);
// The text of a manifest.
std::string formatManifest(const Manifest &m);
// Reads a manifest's text. 1 when it is whole and sound; 0 with *why
// ("line 7: a bad mode") otherwise.
int parseManifest(const char *text, size_t size, Manifest *m, std::string *why);
// Reads the manifest file path (never through a link). 0 with *why ("is
// missing ...", "is damaged: line 7: ...") when it cannot be used.
int readManifest(const char *path, Manifest *m, std::string *why);
// Writes SETUP_MANIFEST (mode 0644, in a directory of mode 0755) through the
// atomic replacement. 1 written; 0 after a message on standard error.
int writeManifest(void);

// --verify (Verify.cpp): compares every path of the manifest with the host
// and prints one line per path that differs: nine columns S (size), M (mode
// or kind), 5 (digest), D, L (link target), U (user), G (group), T, P, each
// "." when the same ("?" when it could not be checked), or "missing" or
// "failed", then the path escaped. Changes nothing. Returns the exit status:
// 0 nothing differs, 1 something does, 2 the manifest is missing, damaged
// or records another install root than root (null: any), said on stderr.
int verifyInstallation(const char *root);

// --uninstall (Verify.cpp): after the process guard and the question (none
// with flAcceptAgreement), removes what the manifest lists under the rules
// told at the top of Verify.cpp: files and links first, then directories
// that are empty; a changed file stays unless flForce. Every removal runs
// through the command table and the run log. The manifest goes last, only
// when everything else went. Returns the exit status: 0 removed (or nothing
// done at the user's choice), 1 something stayed (named on stderr), 2 the
// manifest cannot be used.
int uninstallInstallation(const char *root);

// ---------------------------------------------------------------------------
// Agreement and messages (Nls.cpp; the tables are generated at build time)
// ---------------------------------------------------------------------------

extern const char *pTransBuf; // language alias table: nls/catalog/trans.conf, 17 lines

extern const char *pEnglishEULA;
extern const char *pSpanishEULA;
extern const char *pItalianEULA;
extern const char *pFrenchEULA;
extern const char *pGermanEULA;
extern const char *pPortugueseEULA;
extern const char *pCzechEULA;
extern const char *pFinnishEULA;
extern const char *pHungarianEULA;
extern const char *pDutchEULA;
extern const char *pNorwegianEULA;
extern const char *pPolishEULA;
extern const char *pRussianEULA;
extern const char *pSwedishEULA;
extern const char *pTurkishEULA;

extern const char *const NLS_ENGLISH[NLS_MSG_COUNT];
extern const char *const NLS_SPANISH[NLS_MSG_COUNT];
extern const char *const NLS_ITALIAN[NLS_MSG_COUNT];
extern const char *const NLS_FRENCH[NLS_MSG_COUNT];
extern const char *const NLS_GERMAN[NLS_MSG_COUNT];
extern const char *const NLS_PORTUGUESE[NLS_MSG_COUNT];

extern const char *const *pCurLang; // chosen message table, null until first use
// pNLSLang (NlsLang.h) holds the chosen agreement language key, null until first use.

// The agreement language key, chosen from LANG on the first call and cached:
// the key of the first line of pTransBuf that lists LANG as a whole alias
// word, "en_US" when no line does. Cuts LANG at "." in the environment.
const char *GetTargetNLSLang(void);

// Shows the agreement in the user's language and reads the answer: 1 when
// it starts with "y" or "Y", else 0 (end of input included).
int UserAcceptedEULA(const char *arg);

// Message index (0..70) in the message language chosen from LANG on the
// first call. An index out of range yields the empty text.
const char *nlsSetupStrCvt(int index);

// Prints message `index`, filled with the arguments, on out; the result of
// vfprintf. The arguments must match the English entry's conversions, which
// every translation carries in the same order.
int nlsPrint(FILE *out, int index, ...);

// Formats message `index` into buf (at most size - 1 characters, always
// terminated); the result of vsnprintf.
int nlsFormat(char *buf, size_t size, int index, ...);

// ---------------------------------------------------------------------------
// Install media and space (Media.cpp)
// ---------------------------------------------------------------------------

// Reads <dir>/disks, or <dir>/DISKS upper-cased up to "end_of_list", into
// LineBuf. Exits 1 with message 21 when neither can be read. Returns 1.
int GetDisksData(const char *dir);

// The two ways the disks list is cut into names. The same list, one name a
// line and "end_of_list" last, reads alike both ways.
//   DISKS_COPY  (the copy of the install site into the work directory): lines
//               at CR and LF, a line that is exactly "end_of_list" ends the
//               list; each line cut into words at blank, tab, CR and LF with
//               the tokenizer's backslash escapes (a word is kept to
//               TOKEN_BUF_SIZE - 1 characters); a word "end_of_list" ends
//               only its line.
//   DISKS_JOIN  (the joining of the archive pieces): words at blank, CR and
//               LF, a tab belonging to its word; the first word
//               "end_of_list" ends the list.
enum DisksCut { DISKS_COPY, DISKS_JOIN };

// The names of the disks list text, in list order, cut as cut says; empty
// for null. Runs nothing and leaves text as it is.
std::vector<std::string> ParseDisksList(const char *text, DisksCut cut);

// The names of the disks list of dir (read with GetDisksData into LineBuf),
// cut as cut says. Exits 1 with message 21 when the list cannot be read.
std::vector<std::string> ReadDisksList(const char *dir, DisksCut cut);

// Upper-cases every letter of text in place up to where "end_of_list"
// begins (or its end): how a list read from DISKS names its pieces.
void UpperCaseDisksList(char *text);

// Appends the pieces named by the work directory's disks list, in list
// order, to <work>/DornaLinuxi386Dpxx.tar.Z. A failed append exits 1.
void genZFile(void);

// Returns when work area and install root have room (or room cannot be
// measured); otherwise prints why and exits 1.
void FreeSpaceForInstall(const char *work, const char *root, const char *word);

// 1 to go on; 0 when the user is not root. Asks about an old print daemon;
// "n"/"no" exit 0, end of input ends the run (stopForNoAnswer).
int readyForInstallation(void);

// ---------------------------------------------------------------------------
// Running-process guard (Guard.cpp)
// ---------------------------------------------------------------------------

// 0 when none of the comma-listed programs runs (at once or after waiting);
// 1 when the user chose to quit. End of input ends the run (stopForNoAnswer).
int QuitForRunningProcesses(const char *list);

// ---------------------------------------------------------------------------
// Package list (PkgList.cpp)
// ---------------------------------------------------------------------------

// The parts of a pkg.list line.
enum PkgPart {
    PKG_DIRECTIVE, // the directive word D (again after each "v" condition)
    PKG_ARG,       // its argument A
    PKG_EXTRA,     // the destination of "dirto", the version of "v"
    PKG_KEY,       // the KEY of an attribute pair
    PKG_VALUE,     // its VALUE
};

struct PkgWord {
    PkgPart part;
    std::string text; // as the tokenizer gives it, escapes translated
};

// One line of pkg.list cut into its parts, in the order they are read.
struct PkgLine {
    std::vector<PkgWord> words;
    // Where a word longer than TOKEN_BUF_SIZE - 1 characters begins (the line
    // from there on, as it stands), or empty; the words end before it.
    std::string tooLong;
};

// Cuts one line of pkg.list (continued lines already joined) into its parts
// without running anything: D and A; the third word of "dirto" or the
// version of "v"; after "v OP VERSION" the directive it guards and its own
// parts, and so on; then the attribute pairs, until a key or its value is
// missing. Words are cut at blanks, CR and LF with the tokenizer's escapes;
// the value of "sed" as the line's first key is the rest of the line up to
// its end, without blanks around it. Whether a condition holds or a
// directive goes on to its attributes is left to the caller: the parts are
// those of a line that goes on as far as it can. Null reads as empty.
PkgLine ParsePkgLine(const char *text);

// Carries out <work>/<pkgDir>/pkg.list. 0 when the whole list ran; 1 when a
// checkps guard ended with the user's choice to quit. Exits 1 when the list
// cannot be opened. A failed copy, touch or tree copy skips the attributes of
// its line and is recorded with noteFailedStep.
int ProcessPkgList(const char *pkgDir);

// ---------------------------------------------------------------------------
// Print-system detection and site layout (PrintSystem.cpp)
// ---------------------------------------------------------------------------

// Writes <dir>/.dp_cfg (" CUPS ", " LPRng " or " BSD "), mode 0644. 1 written,
// 0 (after an error line) when it cannot be written.
int createPrintingSubsystemFile(const char *dir);

// Lays out the application directory of a fresh installation under root
// and, for a root other than /usr, the link at the well-known location.
void createInstallationDirectories(const char *root);

// 1 when the host's lpd reports itself as LPRng.
int SniffLprng(void);

// 1 when a process named cupsd runs.
int SniffCUPS(void);

// ---------------------------------------------------------------------------
// Queue scripts (QueueScripts.cpp)
// ---------------------------------------------------------------------------

extern const char *ScriptShShell;           // "#!/bin/sh"
extern const char *ScriptBanner;            // the maker's banner, "%d" takes the year
extern const char *DornaPrintdpxxScript;    // queue interface
extern const char *pv4DriverScript;         // driver interface
extern const char *DornaDSFScript;          // filter wrapper
extern const char *SimpleScript;            // launcher in /usr/bin
extern const char *DPrintDControlScript;    // start/stop of the old print daemon
extern const char *DPrintDControlMsgScript; // the same with start_msg/stop_msg
extern const char *DPrintDWatchScript;      // restarts DPrintD every 180 seconds
extern const char *ScriptTail;              // "## Exit Script" and "exit 0"

// Writes APP/DornaPrintdpxx, APP/v4DriverScript, APP/DornaDSF and, on LPRng
// hosts, the printconf link. A script that cannot be written is recorded
// with noteFailedStep (the run ends with status 1); the others are written.
void createQueueScripts(const char *spoolRoot);

// Each writes one script (mode 755): 1 written, 0 when it cannot be opened
// or written in full.
int generateDornaPrintdpxxScript(const char *path, const char *firstLine, const char *tmpl);
int generatev4DriverScript(const char *path, const char *firstLine, const char *tmpl);
int generateDornaDSFScript(const char *path, const char *firstLine, const char *tmpl,
                           const char *spoolDir);

// Writes a launcher script at path that enters dir and runs progDir/progName.
// 1 written, 0 when it cannot be opened or written in full.
int GenSimpleScript(const char *path, const char *firstLine, const char *tmpl, const char *dir,
                    const char *progDir, const char *progName);

// ---------------------------------------------------------------------------
// Solaris package upgrade (SolarisPkg.cpp)
// ---------------------------------------------------------------------------

extern const char *pPathToInstallf; // "/usr/sbin/installf"

// Replaces the files of the installed package pkg from the image in the
// work directory and raises its recorded version. Returns 1.
int upgradeSolarisPackage(const char *pkg, const char *mapDir);
