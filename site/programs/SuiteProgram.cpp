// The suite's own small programs as the sample package ships them: dpqadmin,
// dprdpxxtty, dsf, driver and AixInterface. One source, built once per name
// (DORNA_PROGRAM). Each program records how it was called, so that a test can
// see what the installer and the generated print scripts hand it:
//
//   <log dir>/<program>.log, one record appended per call:
//     call <program>
//     arg <argv[0]>          one line per argument, argv[0] first
//     cwd <working directory>
//     uid <real> <effective>
//     env <NAME>=<value>     the print variables set, sorted by name
//     stdin <count> <bytes>  or "stdin tty", "stdin closed", "stdin not read"
//     status <exit status>
//     end
//
// Every text is escaped so that a record stays line-based: backslash, bytes
// below 0x20, 0x7f and bytes from 0x80 on are written as \\, \n, \t, \r or
// \xHH. The log directory is /var/spool/Dorna/calls, or DORNA_CALL_LOG_DIR
// when that is set; missing directories are made with mode 755. The log is
// opened without following a link, and only a regular file with one name is
// written.
//
// dsf and dprdpxxtty are installed set-user-ID root. In a set-user-ID or
// set-group-ID run no environment variable steers the program (they are
// read with secure_getenv, which gives nothing then: the caller's
// DORNA_CALL_LOG_DIR would otherwise let him append to any file or make
// directories anywhere as root), and no directory is made. The print
// variables are still recorded, escaped, as data.
//
// The print programs (all but dpqadmin) read a job from standard input when
// it is not a terminal: to its end, or until it has been silent for
// DORNA_STDIN_IDLE seconds (default 10), keeping at most 1 MiB of it.
// dpqadmin never reads standard input: the installer starts it with its own
// terminal or answer pipe.
//
// A call that cannot be recorded warns on standard error and goes on.
// DORNA_FAIL_TIMES=N makes the first N calls of a program (counted in its
// log) fail with status 1, for tests of the scripts that rerun the filter
// until it succeeds.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef DORNA_PROGRAM
#error "DORNA_PROGRAM names the program this build makes"
#endif

extern char **environ;

namespace {

constexpr const char *kProgram = DORNA_PROGRAM;
constexpr size_t kStdinKeep = 1 << 20; // bytes of standard input kept in the record

// Environment variables a print script may hand to the suite's programs.
constexpr const char *kPrintVariables[] = {"CfgFlags",
                                           "Copies",
                                           "DISPLAY",
                                           "GDK_PIXBUF_MODULE_FILE",
                                           "GTK_IM_MODULE_FILE",
                                           "LANG",
                                           "LD_LIBRARY_PATH",
                                           "OptList",
                                           "OptionList",
                                           "PANGO_RC_FILE",
                                           "PATH",
                                           "PRINTER",
                                           "RequestID",
                                           "SPOOL_DIR",
                                           "Title",
                                           "ToolPath",
                                           "UserName",
                                           "flConfig",
                                           nullptr};

[[gnu::format(printf, 1, 2)]] void Fail(const char *format, ...) {
    fprintf(stderr, "%s: ", kProgram);
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
}

void AppendEscaped(std::string &out, const char *data, size_t size) {
    for (size_t i = 0; i < size; i++) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        char hex[8];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

void AppendLine(std::string &out, const char *key, const std::string &value) {
    out += key;
    out += ' ';
    AppendEscaped(out, value.data(), value.size());
    out += '\n';
}

bool IsPrintVariable(const char *name, size_t length) {
    std::string n(name, length);
    if (n.rfind("DPrint", 0) == 0) return true;
    for (const char *const *v = kPrintVariables; *v != nullptr; v++)
        if (n == *v) return true;
    return false;
}

std::string LogDir() {
    const char *dir = secure_getenv("DORNA_CALL_LOG_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/var/spool/Dorna/calls";
}

// mkdir -p with mode 755; true when the directory exists afterwards.
bool MakeDirs(const std::string &dir) {
    for (size_t at = 1; at <= dir.size(); at++) {
        if (at != dir.size() && dir[at] != '/') continue;
        std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Number of earlier calls recorded in the log.
int EarlierCalls(const std::string &log) {
    int fd = open(log.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    FILE *f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (f == nullptr) {
        if (fd >= 0) close(fd);
        return 0;
    }
    int calls = 0;
    char line[8192];
    bool atStart = true;
    while (fgets(line, sizeof line, f) != nullptr) {
        if (atStart && strncmp(line, "call ", 5) == 0) calls++;
        atStart = strchr(line, '\n') != nullptr;
    }
    fclose(f);
    return calls;
}

// The "stdin" line: the job on standard input, or why it was not read.
std::string ReadStandardInput(bool wanted) {
    if (!wanted) return "stdin not read\n";
    struct stat st {};
    if (fstat(0, &st) != 0) return "stdin closed\n";
    if (isatty(0)) return "stdin tty\n";
    int idle = 10;
    if (const char *s = secure_getenv("DORNA_STDIN_IDLE")) idle = atoi(s) > 0 ? atoi(s) : idle;
    std::string kept;
    unsigned long long total = 0;
    char buf[65536];
    for (;;) {
        pollfd p{0, POLLIN, 0};
        int ready = poll(&p, 1, idle * 1000);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break; // silent too long: a writer that never closes its end
        ssize_t got = read(0, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        total += static_cast<unsigned long long>(got);
        size_t room = kStdinKeep - kept.size();
        kept.append(buf, static_cast<size_t>(got) < room ? static_cast<size_t>(got) : room);
    }
    std::string line = "stdin " + std::to_string(total) + " ";
    AppendEscaped(line, kept.data(), kept.size());
    return line + "\n";
}

// Appends the record with one write, so that records of programs running at
// the same moment do not interleave.
bool WriteRecord(const std::string &log, const std::string &record) {
    int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  0644);
    if (fd < 0) return false;
    // A FIFO, a device or a second name of another file (a hard link to a
    // system file) is no log of ours.
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        close(fd);
        errno = EPERM;
        return false;
    }
    ssize_t done = write(fd, record.data(), record.size());
    bool ok = done == static_cast<ssize_t>(record.size());
    if (close(fd) != 0) ok = false;
    return ok;
}

// Queue directories under the suite's spool directory: what dpqadmin looks at.
int CountQueues() {
    const char *spool = "/var/spool/Dorna/dpxx";
    DIR *d = opendir(spool);
    if (d == nullptr) return 0;
    int queues = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.' || strcmp(e->d_name, "__dpa_download__") == 0) continue;
        std::string path = std::string(spool) + "/" + e->d_name;
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) queues++;
    }
    closedir(d);
    return queues;
}

bool IsQueueTool() {
    return strcmp(kProgram, "dpqadmin") == 0;
}

void Usage(FILE *to) {
    if (IsQueueTool())
        fprintf(to,
                "Usage: %s -upgrade | -clean\n"
                "Brings the print queues of the Dorna suite up to this release (-upgrade)\n"
                "or clears what earlier releases left in them (-clean).\n",
                kProgram);
    else
        fprintf(to,
                "Usage: %s [OPTION]... [FILE]...\n"
                "Print program of the Dorna suite, started by the generated print scripts.\n",
                kProgram);
    fprintf(to, "Each call is recorded in %s/%s.log.\n", LogDir().c_str(), kProgram);
}

// What the program does besides recording; its exit status.
int Act(int argc, char **argv) {
    if (!IsQueueTool()) return 0;
    if (argc != 2) {
        Fail("expected one option, -upgrade or -clean");
        Usage(stderr);
        return 2;
    }
    int queues = CountQueues();
    if (strcmp(argv[1], "-upgrade") == 0) {
        printf("%s: %d queue(s) found, none needs an upgrade\n", kProgram, queues);
        return 0;
    }
    if (strcmp(argv[1], "-clean") == 0) {
        printf("%s: %d queue(s) found, nothing to clean\n", kProgram, queues);
        return 0;
    }
    Fail("unknown option: %s", argv[1]);
    Usage(stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        Usage(stdout);
        return 0;
    }

    std::string record = std::string("call ") + kProgram + "\n";
    for (int i = 0; i < argc; i++)
        AppendLine(record, "arg", argv[i]);
    char cwd[PATH_MAX];
    AppendLine(record, "cwd", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
    record += "uid " + std::to_string(getuid()) + " " + std::to_string(geteuid()) + "\n";
    std::vector<std::string> vars;
    for (char **e = environ; *e != nullptr; e++) {
        const char *eq = strchr(*e, '=');
        if (eq != nullptr && IsPrintVariable(*e, static_cast<size_t>(eq - *e)))
            vars.emplace_back(*e);
    }
    std::sort(vars.begin(), vars.end());
    for (const std::string &v : vars)
        AppendLine(record, "env", v);
    record += ReadStandardInput(!IsQueueTool());

    std::string dir = LogDir();
    std::string log = dir + "/" + kProgram + ".log";
    int status = Act(argc, argv);
    const char *failTimes = secure_getenv("DORNA_FAIL_TIMES");
    if (status == 0 && failTimes != nullptr && EarlierCalls(log) < atoi(failTimes)) {
        Fail("failing on purpose (DORNA_FAIL_TIMES=%s)", failTimes);
        status = 1;
    }
    record += "status " + std::to_string(status) + "\nend\n";

    // A call that cannot be recorded still does its work: the filter wrapper
    // reruns dsf until it succeeds and must not loop for a full disk.
    // A set-user-ID run makes no directories: the log directory is the
    // installed one or nothing is recorded.
    bool privileged = getuid() != geteuid() || getgid() != getegid();
    if ((!privileged && !MakeDirs(dir)) || !WriteRecord(log, record))
        Fail("warning: cannot record the call in %s: %s", log.c_str(), strerror(errno));
    fflush(stdout);
    return status;
}
