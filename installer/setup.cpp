// The installer driver: command line, previous installation, the copy of the
// install site into the work directory, unpacking, the install steps in the
// order of a fresh installation or an upgrade, and clean-up.
//
// Every path that reaches a shell command line (work area, install root, the
// install site, the previous installation, the names of the disks list) is
// checked with isShellSafePath first: the command layer places texts on a
// root shell's command line unescaped.
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "MemMgr.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

namespace {

// The identity of the work directory as installFromSite made and checked it.
struct WorkIdentity {
    bool known = false; // set once the work directory was made and checked
    dev_t dev = 0;
    ino_t ino = 0;
};
WorkIdentity g_work;

// Every exit after the work directory was made, the failures included, takes
// the copied pieces and the unpacked package away with it - but only the
// directory this run made, never one that was put in its place.
void removeWorkDirectoryAtExit(void) {
    if (!g_work.known || pDornaInstallDir == nullptr || !TestCmd(CMD_RM_RF)) return;
    struct stat st;
    if (lstat(pDornaInstallDir, &st) != 0 || st.st_dev != g_work.dev || st.st_ino != g_work.ino)
        return;
    if (chdir("/") != 0) return;
    removeWorkDirectory(pDornaInstallDir);
}

// The signal that stops this installation, once one came (0: none).
volatile sig_atomic_t g_interrupt = 0;

// Stops an interrupted installation: logs it, removes the work directory
// this run made, prints the summary of failed steps (the interrupt among
// them) and ends with status 1. Runs once: its own commands tell nobody.
[[noreturn]] void stopInterrupted(int sig) {
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    pSysCmdEnded = nullptr;
    const char *name = sigabbrev_np(sig);
    fflush(stdout);
    PutLogMsg("ERROR: interrupted by SIG%s; the installation stops\n", name ? name : "?");
    noteFailedStep(nullptr, "interrupted by SIG%s: the installation stopped there",
                   name ? name : "?");
    removeWorkDirectoryAtExit();
    reportFailedSteps();
    exit_app(1);
}

// A command ended (pSysCmdEnded): by the user's interrupt, or with one that
// came to us while it ran.
void onCommandEnded(int sig) {
    if (sig != 0 && g_interrupt == 0) g_interrupt = sig;
    if (g_interrupt != 0) stopInterrupted(g_interrupt);
}

// SIGINT, SIGTERM, SIGHUP or SIGQUIT to the installer. While a command runs,
// the command ends first (an interrupt typed at the terminal has reached it
// too; any other runs to its end) and onCommandEnded stops the run then, so
// that nothing is removed under a running command. Otherwise the installer
// is at a question, a pause or its own short work between commands, and
// stops at once.
void onStopSignal(int sig) {
    if (g_interrupt == 0) g_interrupt = sig;
    if (flSysCmdRunning) return;
    stopInterrupted(g_interrupt);
}

// system() for the lines that run without the command table; a line ended
// by the user's interrupt stops the run as a command of the table does.
int runShellLine(const char *line) {
    int status = system(line);
    if (status != -1 && WIFSIGNALED(status) &&
        (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT))
        onCommandEnded(WTERMSIG(status));
    if (g_interrupt != 0) stopInterrupted(g_interrupt);
    return status;
}

// Words of the command line with a meaning of their own.
const char *const CMDLINE_KEYS = ",install,-v";

// What a word of the command line names. "install <root>" and the second
// word name the install root, "-v" asks for the version, any other word
// names the work area; a last "install" names nothing. Every reader of the
// command line classifies the words through this one walk.
enum class WordRole { WorkArea, InstallRoot, Version };
struct CommandLineWord {
    WordRole role;
    const char *word;
};

std::vector<CommandLineWord> commandLineWords(int argc, char **argv) {
    std::vector<CommandLineWord> words;
    for (int i = 1; i < argc; ++i) {
        switch (FindToken(argv[i], CMDLINE_KEYS)) {
        case 1:
            if (i + 1 < argc) words.push_back({WordRole::InstallRoot, argv[++i]});
            break;
        case 2:
            words.push_back({WordRole::Version, argv[i]});
            break;
        default:
            words.push_back({i == 2 ? WordRole::InstallRoot : WordRole::WorkArea, argv[i]});
            break;
        }
    }
    return words;
}

// The last word of the command line with the given role, or null.
const char *lastWord(int argc, char **argv, WordRole role) {
    const char *last = nullptr;
    for (const CommandLineWord &w : commandLineWords(argc, argv))
        if (w.role == role) last = w.word;
    return last;
}

// A path of the command line as a stored absolute path. A relative one is
// taken from the directory the program was started in: the installer enters
// the work directory (and "/" to clean up) before it uses these paths, where
// a relative path would name another place - the suite would be installed
// into the work directory and removed with it.
char *absolutePath(const char *word) {
    if (word[0] == '/') return SaveStr_(word);
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        fprintf(stderr,
                "ERROR: \"%s\" is not a full path and the working directory "
                "cannot be determined\n",
                word);
        exit_app(2);
    }
    return strcmp(cwd, "/") == 0 ? SaveStr("/%s", word) : SaveStr("%s/%s", cwd, word);
}

// Refuses a work area or install root that is not safe on a shell command
// line, as given or once made absolute.
void checkPathWord(const char *what, const char *word) {
    requireShellSafePath(what, word, 2);
    char *path = absolutePath(word);
    requireShellSafePath(what, path, 2);
    PutMem(path);
}

// Checks every work area and install root of the command line before any of
// them is used, classifying the words as parseCommandLineOptions does.
// Refuses an install root that holds the suite's directory names anywhere
// but at its end (where StripToBaseName drops them): it would be taken for
// another directory than the one meant.
void checkRootWord(const char *word) {
    checkPathWord("install root", word);
    char *root = StripToBaseName(absolutePath(word));
    bool odd = strstr(root, SETUP_MAKER) != nullptr || strstr(root, SETUP_APPNAME) != nullptr;
    PutMem(root);
    if (odd)
        refuseCommandLine("the install root \"%s\" holds \"%s\" or \"%s\" other than as its "
                          "last directories (/%s, /%s or /%s/%s, which are dropped)",
                          word, SETUP_MAKER, SETUP_APPNAME, SETUP_MAKER, SETUP_APPNAME, SETUP_MAKER,
                          SETUP_APPNAME);
}

void checkCommandLine(int argc, char **argv) {
    for (const CommandLineWord &w : commandLineWords(argc, argv)) {
        if (w.role == WordRole::InstallRoot)
            checkRootWord(w.word);
        else if (w.role == WordRole::WorkArea)
            checkPathWord("work area", w.word);
    }
}

// Takes a work-area word: sets pDornaInstallDir and makes the directory when
// it is missing. Exits 2 when it can neither be found nor made.
void takeWorkArea(const char *word) {
    char *area = absolutePath(word);
    size_t len = strlen(area);
    if (len > 1 && area[len - 1] == '/') area[len - 1] = 0;
    pDornaInstallDir = SaveStr("%s/%sInstall", area, SETUP_MAKER);
    if (!FindFile(area, nullptr)) {
        flCreatedTmpDir = 1;
        // mkdir -p in mode 1: a failure is answered below with message 3 and
        // status 2 rather than by the command layer.
        SysCmd(CMD_MKDIR, RUN_WARN, " %s", area);
        if (!FindFile(area, nullptr)) {
            nlsPrint(stdout, 3, area);
            printf("\n\n");
            fflush(stdout);
            exit_app(2);
        }
    }
    // Checked before the agreement as far as it existed; what exists now,
    // made by us or by someone else meanwhile, is checked again.
    requireTrustedPath("work area", area, 2);
    PutMem(area);
}

// Turns <work>/DornaLinuxi386Dpxx.tar.Z into the .tar beside it: uncompress
// first, gzip when that fails. Both append their output to the run log, the
// file the log writer made for this run and keeps ours (never a name another
// user may have planted, whatever the program is called), and gzip is the
// one of the system directories, never whatever comes first on the caller's
// PATH. Their results are not examined: tar then finds the archive or fails.
void decompressArchive(const char *work) {
    char *logPath = SaveStr("/tmp/%s.log", my_name);
    const std::string log = SysShellWord(logPath, false);
    PutMem(logPath);
    // The shell lines are stored strings: a line cut to a fixed buffer would
    // run another command than the one meant.
    char *cmd = SaveStr("/usr/bin/uncompress %s/%s.tar.Z 1>>%s 2>>%s", work, SETUP_ARCHIVE,
                        log.c_str(), log.c_str());
    int failed = runShellLine(cmd);
    PutMem(cmd);
    if (failed == 0) return;
    char *gzip = FindSysCommand("gzip");
    if (gzip == nullptr) {
        PutLogMsg("WARNING_MSG: gzip is in none of the system directories\n");
        return;
    }
    cmd = SaveStr("%s -dfv %s/%s.tar.Z 1>>%s 2>>%s", gzip, work, SETUP_ARCHIVE, log.c_str(),
                  log.c_str());
    runShellLine(cmd);
    PutMem(cmd);
    PutMem(gzip);
}

// Every print script reads the flags file: one that is not written is a
// failed step, and the run ends with status 1 after the summary.
void writePrintSystemFlags(void) {
    if (createPrintingSubsystemFile(pAppDir)) return;
    char *path = SaveStr("%s/.dp_cfg", pAppDir);
    noteFailedStep(path, "print-system flags file (%s)", path);
    PutMem(path);
}

} // namespace

void printUsage(FILE *out) {
    const char *name = my_name != nullptr ? my_name : "setup";
    fprintf(out,
            "Usage: %s [WORK-AREA] [INSTALL-ROOT]\n"
            "       %s install INSTALL-ROOT\n"
            "       %s -v\n"
            "       %s [OPTION...] [--] any of the above\n"
            "\n"
            "Installs the Dorna print suite from the install site, the directory that holds\n"
            "this program and the pieces its \"disks\" list names. Run it as root. The\n"
            "licence agreement is shown first; nothing is done unless it is accepted.\n"
            "The words may be combined, as in \"%s /var/tmp install /opt\".\n"
            "\n"
            "  WORK-AREA      directory in which the pieces are copied, joined and\n"
            "                 unpacked, in its subdirectory DornaInstall, which is removed\n"
            "                 at the end (default: /tmp); made when it is missing\n"
            "  INSTALL-ROOT   directory under which the suite is installed, as\n"
            "                 INSTALL-ROOT/Dorna/dpxx (default: the root of the installed\n"
            "                 suite, else /usr); /usr/Dorna/dpxx links to it when it is\n"
            "                 not /usr; a trailing /Dorna or /Dorna/dpxx is dropped\n"
            "  install INSTALL-ROOT  names the install root in any position\n"
            "  -v             print the version on standard error and end, once the\n"
            "                 agreement is accepted\n"
            "  -h, --help     print this help and end, before the agreement\n"
            "\n"
            "Options, before the words above (\"--\" ends them):\n",
            name, name, name, name, name);
    printOptionHelp(out);
    fprintf(out,
            "\n"
            "Relative paths are taken from the current directory. Every system command\n"
            "the installation runs is logged with its output in /tmp/%s.log.\n"
            "\n"
            "Exit status:\n"
            "  0  the suite is installed, or the run ended at the user's choice (the\n"
            "     agreement refused, quit chosen) or after -v, -h or --help\n"
            "  1  the installation failed or stopped; the messages and the log say why\n"
            "  2  the command line was refused\n"
            "With --verify: 0 nothing differs, 1 something differs, 2 the manifest\n"
            "is missing or damaged. With --uninstall: 0 removed (or nothing done at the\n"
            "user's choice), 1 something stayed (named), 2 the manifest is missing or\n"
            "damaged. With --preview: the status the installation would have had; 2\n"
            "when no preview can be made here.\n",
            name);
}

void commandLinePlaces(int argc, char **argv, std::string *workArea, std::string *root) {
    checkCommandLine(argc, argv);
    workArea->clear();
    root->clear();
    if (const char *word = lastWord(argc, argv, WordRole::InstallRoot)) {
        char *path = StripToBaseName(absolutePath(word));
        *root = path;
        PutMem(path);
    }
    if (const char *word = lastWord(argc, argv, WordRole::WorkArea)) {
        char *path = absolutePath(word);
        size_t len = strlen(path);
        if (len > 1 && path[len - 1] == '/') path[len - 1] = 0;
        *workArea = path;
        PutMem(path);
    }
}

char *findPreviousInstallationRoot(void) {
    struct stat st;
    if (lstat(SETUP_WELLKNOWN, &st) != 0) return nullptr;
    if (!S_ISLNK(st.st_mode)) return SaveStr_("/usr");
    char target[256] = {0};
    if (readlink(SETUP_WELLKNOWN, target, sizeof target - 1) < 0) return nullptr;
    char *joined = target[0] == '/' ? SaveStr_(target) : SaveStr("/usr/Dorna/%s", target);
    char resolved[PATH_MAX];
    char *path = realpath(joined, resolved) != nullptr ? SaveStr_(resolved) : nullptr;
    PutMem(joined);
    if (path == nullptr || stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (path != nullptr) PutMem(path);
        return nullptr;
    }
    return StripToBaseName(path);
}

char *commandLineRoot(const char *word) {
    checkRootWord(word);
    return StripToBaseName(absolutePath(word));
}

void refuseCommandLine(const char *format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    noteStopReason(0, "%s", text);
    fprintf(stderr, "ERROR: %s", text);
    fputs("\n\n", stderr);
    printUsage(stderr);
    exit_app(2);
}

std::vector<char *> checkCommandLineOptions(int argc, char **argv) {
    // Help wins over a refusal anywhere before "--": whoever asks for it
    // is shown how to call the program rather than an error.
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            printUsage(stdout);
            exit_app(0);
        }
    }
    // A misspelt option must never become a work area or an install root.
    return parseSetupOptions(argc, argv);
}

void checkWorkAreaBeforeAsking(int argc, char **argv) {
    const char *word = lastWord(argc, argv, WordRole::WorkArea);
    if (word == nullptr) {
        requireTrustedPath("work area", "/tmp", 2);
        return;
    }
    if (word[0] == '/') {
        requireTrustedPath("work area", word, 2);
        return;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return; // parseCommandLineOptions refuses it with its reason
    std::string area = std::string(strcmp(cwd, "/") == 0 ? "" : cwd) + "/" + word;
    requireTrustedPath("work area", area.c_str(), 2);
}

void checkInstallRootBeforeAsking(int argc, char **argv) {
    for (const CommandLineWord &w : commandLineWords(argc, argv)) {
        if (w.role != WordRole::InstallRoot) continue;
        const char *word = w.word;
        if (word[0] != '/') {
            char cwd[PATH_MAX];
            if (getcwd(cwd, sizeof cwd) == nullptr)
                continue; // parseCommandLineOptions refuses it with its reason
        }
        char *root = StripToBaseName(absolutePath(word));
        requireTrustedInstallRoot(root, 2);
        PutMem(root);
    }
}

void catchStopSignals(void) {
    struct sigaction act {};
    act.sa_handler = onStopSignal;
    sigemptyset(&act.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&act.sa_mask, s);
    act.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(s, &act, nullptr);
    pSysCmdEnded = onCommandEnded;
}

void takeInstallLock(void) {
    // O_NOFOLLOW: /run is root's, but a link there is still never followed.
    // The descriptor stays open (and the lock held) until the process ends;
    // the commands the run starts neither inherit it nor hold the lock.
    int fd = open(SETUP_LOCK_FILE, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) == 0) {
        // For the people who look: the holder's process ID.
        char pid[32];
        int n = snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
        if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, pid, static_cast<size_t>(n), 0);
        return;
    }
    // The lock names its holder; a holder in another process namespace
    // shows as 0, and then the file says who took it.
    long holder = 0;
    if (fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) holder = lock.l_pid;
    if (holder <= 0) {
        char text[32] = {};
        if (pread(fd, text, sizeof text - 1, 0) > 0) holder = strtol(text, nullptr, 10);
    }
    close(fd);
    // Not to the log: it is the running one's.
    noteStopReason(STOP_PRINT,
                   "another setup is running (process ID %ld); this one stops before it "
                   "changes anything",
                   holder);
    exit_app(1);
}

void checkRunLogBeforeAsking(void) {
    char *path = SaveStr("/tmp/%s.log", my_name);
    struct stat st;
    bool blocked = false;
    // The log writer removes an empty directory and anything else it may not
    // write into; a directory with contents it leaves alone, and then no
    // command of the run could be logged.
    if (lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && rmdir(path) != 0 &&
        (errno == ENOTEMPTY || errno == EEXIST))
        blocked = true;
    if (blocked) {
        fprintf(stderr,
                "ERROR: the run log %s cannot be made: a directory with contents stands at "
                "its name; remove it and run %s again\n",
                path, my_name);
        exit_app(2);
    }
    PutMem(path);
}

void removeWorkDirectory(const char *work) {
    g_work.known = false; // removed once: the exit handler has nothing left to do
    SysCmd(CMD_RM_RF, RUN_WARN, " %s", work);
    if (flCreatedTmpDir) {
        if (chdir("/usr") == 0) SysCmd(CMD_RM_RF, RUN_WARN, " %s", work);
        // The work area was made by this run: take it away again when nothing
        // else has been put into it (rmdir refuses a directory that is not empty).
        std::string area(work);
        size_t slash = area.find_last_of('/');
        if (slash != std::string::npos && slash > 0) rmdir(area.substr(0, slash).c_str());
    }
}

void requireSameWorkDirectory(void) {
    if (!g_work.known) return;
    struct stat st;
    const char *work = pDornaInstallDir;
    if (lstat(work, &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == g_work.dev &&
        st.st_ino == g_work.ino) {
        requireTrustedPath("work directory", work, 1);
        return;
    }
    g_work.known = false; // not ours any more: leave it alone
    fflush(stdout);
    fprintf(stderr,
            "ERROR: the work directory %s was replaced during the installation; "
            "the installation stops\n",
            work);
    PutLogMsg("ERROR: the work directory %s was replaced during the installation\n", work);
    exit_app(1);
}

void parseCommandLineOptions(int argc, char **argv) {
    checkCommandLine(argc, argv);
    for (const CommandLineWord &w : commandLineWords(argc, argv)) {
        switch (w.role) {
        case WordRole::InstallRoot:
            pCmdLineInstallDir = StripToBaseName(absolutePath(w.word));
            break;
        case WordRole::Version:
            fprintf(stderr, "%s %s\n", my_name, SETUP_VERSION);
            exit_app(0);
            break;
        case WordRole::WorkArea:
            takeWorkArea(w.word);
            break;
        }
    }
}

char *StripToBaseName(char *text) {
    if (text == nullptr) return nullptr;
    size_t len = strlen(text);
    if (len > 1 && text[len - 1] == '/') text[--len] = 0;
    // Only the suite's own directories at the end are dropped: a root that
    // merely holds the words elsewhere names a directory of its own, and
    // cutting it there would install somewhere else.
    bool cut = false;
    for (const char *suffix : {"/" SETUP_APPNAME, "/" SETUP_MAKER}) {
        size_t n = strlen(suffix);
        if (len >= n && strcmp(text + len - n, suffix) == 0) {
            len -= n;
            text[len] = 0;
            cut = true;
        }
    }
    if (cut && len > 1 && text[len - 1] == '/') text[--len] = 0;
    if (cut && len == 0) {
        text[0] = '/';
        text[1] = 0;
    }
    return text;
}

char *locatePreviousInstallation(void) {
    struct stat st;
    if (lstat(SETUP_WELLKNOWN, &st) != 0) {
        if (stat(SETUP_WELLKNOWN, &st) == 0 && S_ISDIR(st.st_mode) &&
            FindFile("/usr/Dorna", "dpxx/db/que.xdb"))
            return SaveStr_("/usr");
        return nullptr;
    }

    char target[256] = {0};
    if (readlink(SETUP_WELLKNOWN, target, sizeof target - 1) < 0)
        return SaveStr_("/usr"); // a real directory (or file) at the well-known location

    // A relative target is taken from the link's own directory, as the
    // system resolves it, and made absolute so that the install root can be
    // cut from it.
    char *path;
    if (target[0] == '/') {
        path = SaveStr_(target);
    } else {
        char *joined = SaveStr("/usr/Dorna/%s", target);
        char resolved[PATH_MAX];
        path = realpath(joined, resolved) != nullptr ? SaveStr_(resolved) : SaveStr_(joined);
        PutMem(joined);
    }

    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) {
        flChangedHost = 1;
        SysCmd(CMD_RM, RUN_WARN, " %s", SETUP_WELLKNOWN); // dangling link: forget it
        PutMem(path);
        return nullptr;
    }
    return StripToBaseName(path);
}

int installFromSite(const char *work) {
    DeleteFile(work, nullptr);
    // Group and others get no write access: the package is unpacked here and
    // installed as root from here.
    mkdir(work, 0755);
    if (!isPrivateDirectory(work)) {
        fprintf(stderr,
                "ERROR: the work directory %s is not a directory of this user's own "
                "(it is missing, a link, or owned by someone else); remove it or name "
                "another work area\n",
                work);
        exit_app(1);
    }
    requireTrustedPath("work directory", work, 1);
    struct stat st;
    if (lstat(work, &st) == 0) {
        g_work.known = true;
        g_work.dev = st.st_dev;
        g_work.ino = st.st_ino;
        static bool registered = false;
        if (!registered) registered = atexit(removeWorkDirectoryAtExit) == 0;
    }

    for (const std::string &name : ReadDisksList(pPathToSetup, DISKS_COPY)) {
        const char *word = name.c_str();
        if (!isShellSafePath(word) || strchr(word, '/') != nullptr) {
            fprintf(stderr, "ERROR: the disks list names \"%s\", which is not a plain file name\n",
                    word);
            exit_app(1);
        }
        requireSameWorkDirectory();
        SysCmd(CMD_CP, RUN_FATAL, "%s/%s %s", pPathToSetup, word, work);
    }

    Install();
    return 0;
}

int Install(void) {
    if (!readyForInstallation()) {
        noteStopReason(STOP_LOG, "the installer does not run as root; nothing was installed");
        flInstallStopped = 1;
        return 0;
    }
    const char *work = pDornaInstallDir;
    requireSameWorkDirectory();
    genZFile();

    requireSameWorkDirectory();
    decompressArchive(work);

    requireSameWorkDirectory();
    if (chdir(work) != 0) SysError("cannot enter %s", work);
    SysCmd(CMD_TAR_X, RUN_FATAL, "%s/%s.tar", work, SETUP_ARCHIVE);
    char *tarName = SaveStr("%s.tar", SETUP_ARCHIVE);
    DeleteFile(work, tarName);
    PutMem(tarName);

    char *spoolRoot = SaveStr("/var/spool/%s", SETUP_MAKER);
    requireSameWorkDirectory();
    flChangedHost = 1; // from here on the installation itself is written
    if (pCurrentInstallDir != nullptr) {
        if (ProcessPkgList(SETUP_PKGDIR) != 0) {
            PutMem(spoolRoot);
            return 1;
        }
        writePrintSystemFlags();
        createQueueScripts(spoolRoot);
    } else {
        createInstallationDirectories(pTargetInstallDir);
        writePrintSystemFlags();
        createQueueScripts(spoolRoot);
        CreateFile(spoolRoot, nullptr, "775", nullptr, nullptr);
        char *download = SaveStr("%s/%s/__dpa_download__", spoolRoot, SETUP_APPNAME);
        // Shared by every user, as /tmp is: with the sticky bit nobody may
        // remove or rename what another user put there.
        CreateFile(download, nullptr, "1777", nullptr, nullptr);
        PutMem(download);
        requireSameWorkDirectory();
        if (ProcessPkgList(SETUP_PKGDIR) != 0) {
            PutMem(spoolRoot);
            return 1;
        }
        SysCmd(CMD_SH, RUN_SILENT, " %s/selinux/TLDPatchSELinuxPolicy", SETUP_WELLKNOWN);
    }
    PutMem(spoolRoot);

    char *suite = SaveStr("%s/%s", pTargetInstallDir, SETUP_MAKER);
    SysChangeAttr(CMD_CHMOD, RUN_SILENT, "755", suite, false);
    PutMem(suite);
    // A copy that failed may have left a cut file: it never becomes set-user-ID.
    for (const char *program : {"dprdpxxtty", "dsf"}) {
        char *path = SaveStr("%s/%s", pAppDir, program);
        if (!isFailedPath(path) && SysChangeAttr(CMD_CHMOD, RUN_WARN, "4755", path, false) == ELOOP)
            noteFailedStep(path, "chmod 4755 %s: a symbolic link, not followed", path);
        PutMem(path);
    }
    return 0;
}

void DornaClean(const char *work) {
    if (chdir("/") != 0) SysError("cannot enter /");
    removeWorkDirectory(work);

    // Stored strings: a line cut to a fixed buffer would run the queue tool
    // with a cut option (or none) under a long install root. A queue tool
    // whose copy failed may be a cut file and is never run; the summary of
    // failed steps already names it.
    char *tool = SaveStr("%s/dpqadmin", pAppDir);
    bool runnable = !isFailedPath(tool);
    for (const char *option : {"-upgrade", "-clean"}) {
        if (runnable) {
            char *cmd = SaveStr("%s %s", tool, option);
            runShellLine(cmd);
            PutMem(cmd);
        }
        printf(".");
        fflush(stdout);
    }
    PutMem(tool);
    printf("\n");
    fflush(stdout);
}
