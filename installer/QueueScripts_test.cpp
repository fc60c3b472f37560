// Tests of the queue scripts: their layout, their syntax under dash and
// bash, shellcheck, and what they hand to the suite's programs when each
// print system runs them the way it runs queue interfaces and filters.
//
// The suite's programs (dprdpxxtty, driver, dsf, AixInterface) are stood in
// for by a small recorder script that writes its name, working directory,
// arguments, the job variables of its environment and, on request, its
// standard input to a call log.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "SysCmd.h"
#include "setup.h"
#include "utils.h"

using testsupport::Exists;
using testsupport::Lines;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const char *const kRecorder = R"(#!/bin/sh
me=`basename "$0"`
{
    echo "call $me"
    echo "cwd `pwd`"
    for a in "$@"; do
        echo "arg $a"
        if [ "$me" = dsf ] && [ -f "$a" ]; then echo "content `cat "$a"`"; fi
    done
    env | grep -E '^(DPrint|PRINTER=|SPOOL_DIR=|PANGO_RC_FILE=|GTK_IM_MODULE_FILE=|GDK_PIXBUF_MODULE_FILE=|DISPLAY=|LD_LIBRARY_PATH=)' | sort | sed 's/^/env /'
    if [ -n "$REC_STDIN" ]; then echo "stdin `cat`"; fi
} >> "$REC_LOG"
echo "output of $me"
if [ "$me" = dsf ] && [ -n "$DSF_FAILS" ]; then
    n=`cat "$REC_LOG.dsf" 2>/dev/null || echo 0`
    n=`expr $n + 1`
    echo $n > "$REC_LOG.dsf"
    if [ $n -le $DSF_FAILS ]; then exit 1; fi
fi
exit 0
)";

// An application directory with the three print scripts and stand-ins for
// the suite's programs, generated as the installer generates them.
class ScriptSite {
  public:
    ScriptSite() : dir_("scripts") {
        app_ = dir_ / "app";
        mkdir(app_.c_str(), 0755);
        for (const char *prog : {"dprdpxxtty", "driver", "dsf", "AixInterface"})
            WriteFile(app_ + "/" + prog, kRecorder, 0755);
        my_name = SaveStr("pkg_scripts_test");
        pAppDir = SaveStr("%s", app_.c_str());
        EXPECT_EQ(generateDornaPrintdpxxScript((app_ + "/DornaPrintdpxx").c_str(), ScriptShShell,
                                               DornaPrintdpxxScript),
                  1);
        EXPECT_EQ(generatev4DriverScript((app_ + "/v4DriverScript").c_str(), ScriptShShell,
                                         pv4DriverScript),
                  1);
        spool_ = dir_ / "spool";
        EXPECT_EQ(generateDornaDSFScript((app_ + "/DornaDSF").c_str(), ScriptShShell,
                                         DornaDSFScript, spool_.c_str()),
                  1);
        mkdir(spool_.c_str(), 0755);
        log_ = dir_ / "calls.log";
    }

    void SetConfig(const std::string &content) { WriteFile(app_ + "/.dp_cfg", content); }
    void RemoveConfig() { unlink((app_ + "/.dp_cfg").c_str()); }

    // A directory of the test's tree (made when missing).
    std::string Dir(const std::string &rel) {
        std::string path = dir_ / rel;
        testsupport::Shell("mkdir -p '" + path + "'");
        return path;
    }

    // Runs script (a name in APP, or a path) under shell in cwd; returns the
    // call log lines and leaves the run in last().
    std::vector<std::string> Call(const std::string &shell, const std::string &script,
                                  const std::vector<std::string> &args, const std::string &cwd,
                                  std::vector<std::string> env = {},
                                  const std::string &input = "") {
        unlink(log_.c_str());
        unlink((log_ + ".dsf").c_str());
        std::vector<std::string> argv = wrapper_;
        argv.insert(argv.end(), {shell, script[0] == '/' ? script : app_ + "/" + script});
        argv.insert(argv.end(), args.begin(), args.end());
        env.push_back("REC_LOG=" + log_);
        last_ = RunProgram(argv, cwd, env, input);
        return Lines(ReadFile(log_));
    }

    // Words put before the shell of every later Call ("timeout", "20").
    void Wrap(const std::vector<std::string> &words) { wrapper_ = words; }

    const std::string &app() const { return app_; }
    const std::string &spool() const { return spool_; }
    const testsupport::ChildResult &last() const { return last_; }

  private:
    TempDir dir_;
    std::string app_;
    std::string spool_;
    std::string log_;
    testsupport::ChildResult last_;
    std::vector<std::string> wrapper_;
};

// The lines of a call log that start with prefix, in order.
std::vector<std::string> Only(const std::vector<std::string> &lines, const std::string &prefix) {
    std::vector<std::string> out;
    for (const std::string &l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

bool Has(const std::vector<std::string> &lines, const std::string &line) {
    for (const std::string &l : lines)
        if (l == line) return true;
    return false;
}

const char *const kShells[] = {"/usr/bin/dash", "/usr/bin/bash"};

int ThisYear() {
    time_t now = time(nullptr);
    struct tm parts;
    localtime_r(&now, &parts);
    return parts.tm_year + 1900;
}

} // namespace

TEST(QueueScripts, EveryScriptStartsWithShellBannerAndToolPath) {
    ScriptSite site;
    const std::string year = std::to_string(ThisYear());
    for (const char *name : {"DornaPrintdpxx", "v4DriverScript", "DornaDSF"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> lines = Lines(ReadFile(site.app() + "/" + name));
        ASSERT_GE(lines.size(), 8u);
        EXPECT_EQ(lines[0], "#!/bin/sh");
        EXPECT_EQ(lines[1], std::string(63, '#'));
        EXPECT_EQ(lines[2], "#" + std::string(61, ' ') + "#");
        EXPECT_EQ(lines[3].size(), 63u);
        EXPECT_EQ(lines[3].front(), '#');
        EXPECT_EQ(lines[3].back(), '#');
        EXPECT_NE(lines[3].find("Copyright (c) " + year + " Dorna"), std::string::npos);
        EXPECT_EQ(lines[4], "#" + std::string(61, ' ') + "#");
        EXPECT_EQ(lines[5], std::string(63, '#'));
        EXPECT_EQ(lines[6], "");
        EXPECT_EQ(lines[7], "ToolPath=\"" + site.app() + "\"");
        size_t flags = std::string(name) == "DornaDSF" ? 9 : 8;
        EXPECT_EQ(lines[flags], "CfgFlags=`cat ${ToolPath}/.dp_cfg`");
        EXPECT_EQ(testsupport::Mode(site.app() + "/" + name), 0755);
    }
    std::string dsf = ReadFile(site.app() + "/DornaDSF");
    EXPECT_NE(dsf.find("\nSpoolDir=\"" + site.spool() + "\"\n"), std::string::npos);
    std::string queue = ReadFile(site.app() + "/DornaPrintdpxx");
    EXPECT_NE(queue.find("${ToolPath}/dprdpxxtty\" -d\"$DPrintPrinter\" -f 1>>dprintdpxx.log "
                         "2>>dprintdpxx.log"),
              std::string::npos);
    EXPECT_EQ(queue.find("%s."), std::string::npos) << "an unfilled placeholder";
    EXPECT_EQ(queue.find("%stty"), std::string::npos) << "an unfilled placeholder";
    EXPECT_EQ(queue.find("%%"), std::string::npos) << "an unconverted percent sign";
}

TEST(QueueScripts, LauncherEntersTheDirectoryAndRunsTheProgram) {
    TempDir dir("launcher");
    std::string launcher = dir / "tool";
    GenSimpleScript(launcher.c_str(), ScriptShShell, SimpleScript, "/opt/Dorna/dpxx",
                    "/opt/Dorna/dpxx", "dprint");
    std::vector<std::string> lines = Lines(ReadFile(launcher));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "#!/bin/sh");
    EXPECT_EQ(lines[6], "");
    const std::vector<std::string> tail(lines.begin() + 7, lines.end());
    const std::vector<std::string> expected{
        "", "DPrintFileSourceDir=`pwd`", "export DPrintFileSourceDir",
        "", "cd /opt/Dorna/dpxx",        "exec /opt/Dorna/dpxx/dprint \"$@\"",
    };
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(testsupport::Mode(launcher), 0755);

    // Run it: it changes into the directory and passes its arguments on.
    std::string app = dir / "app";
    mkdir(app.c_str(), 0755);
    WriteFile(app + "/prog", kRecorder, 0755);
    GenSimpleScript(launcher.c_str(), ScriptShShell, SimpleScript, app.c_str(), app.c_str(),
                    "prog");
    std::string log = dir / "calls.log";
    testsupport::ChildResult r =
        RunProgram({launcher, "one", "two words", "*"}, dir.path, {"REC_LOG=" + log});
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> calls = Lines(ReadFile(log));
    EXPECT_TRUE(Has(calls, "cwd " + app));
    EXPECT_EQ(Only(calls, "arg "), (std::vector<std::string>{"arg one", "arg two words", "arg *"}));
    EXPECT_TRUE(Has(calls, "env DPrintFileSourceDir=" + dir.path));
}

TEST(QueueScripts, UnwritableScriptIsReportedAndSkipped) {
    testing::internal::CaptureStderr();
    int written =
        generatev4DriverScript("/nonexistent-dir/v4DriverScript", ScriptShShell, pv4DriverScript);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, 0);
    EXPECT_EQ(err, "ERROR: can't open file, /nonexistent-dir/v4DriverScript\n");
}

TEST(QueueScripts, ScriptThatCannotBeWrittenInFullIsAFailure) {
    // A device that takes the open but no byte: each generator reports the
    // write and returns 0, and the cut file is not made executable.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable here";
    struct Case {
        const char *name;
        int (*write)(const char *path);
    };
    const Case cases[] = {
        {"queue interface",
         [](const char *p) { return generateDornaPrintdpxxScript(p, ScriptShShell, "x"); }},
        {"driver interface",
         [](const char *p) { return generatev4DriverScript(p, ScriptShShell, "x"); }},
        {"filter wrapper",
         [](const char *p) { return generateDornaDSFScript(p, ScriptShShell, "x", "/s"); }},
        {"launcher",
         [](const char *p) { return GenSimpleScript(p, ScriptShShell, "x", "/a", "/a", "b"); }},
    };
    struct stat before;
    ASSERT_EQ(stat("/dev/full", &before), 0);
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        int written = c.write("/dev/full");
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(written, 0) << c.name;
        EXPECT_EQ(err, "ERROR: couldn't write /dev/full\n") << c.name;
        struct stat after;
        ASSERT_EQ(stat("/dev/full", &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
    }
}

TEST(QueueScripts, TemplatePlaceholdersAreFilledInOrder) {
    TempDir dir("fill");
    std::string path = dir / "t";
    pAppDir = SaveStr("/opt/Dorna/dpxx");
    // %% stays a percent sign, extra values are unused, a missing one is empty.
    generateDornaDSFScript(path.c_str(), "#!/bin/sh", "a=%s b=%s 100%% %s|\n", "/spool");
    std::vector<std::string> lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[7], std::string("a=") + pAppDir + " b=/spool 100% |");
}

// Every script the installer can write, in the syntax of both shells that
// run /bin/sh scripts here, and clean under shellcheck.
TEST(QueueScripts, GeneratedScriptsPassSyntaxChecksAndShellcheck) {
    ScriptSite site;
    TempDir dir("lint");
    std::vector<std::string> scripts = {site.app() + "/DornaPrintdpxx",
                                        site.app() + "/v4DriverScript", site.app() + "/DornaDSF"};
    std::string launcher = dir / "launcher";
    GenSimpleScript(launcher.c_str(), ScriptShShell, SimpleScript, "/opt/Dorna/dpxx",
                    "/opt/Dorna/dpxx", "dprint");
    scripts.push_back(launcher);
    // The templates that no step writes are kept working all the same.
    int i = 0;
    for (const char *tmpl : {DPrintDControlScript, DPrintDControlMsgScript, DPrintDWatchScript}) {
        std::string path = dir / ("daemon" + std::to_string(i++));
        generatev4DriverScript(path.c_str(), ScriptShShell, tmpl);
        scripts.push_back(path);
    }
    std::string tail = dir / "tail";
    generatev4DriverScript(tail.c_str(), ScriptShShell, ScriptTail);
    scripts.push_back(tail);

    for (const std::string &script : scripts) {
        SCOPED_TRACE(script);
        for (const char *shell : kShells) {
            testsupport::ChildResult r = RunProgram({shell, "-n", script}, "/");
            EXPECT_EQ(r.status, 0) << shell << ": " << r.out;
        }
        // Exclusions, each for a reason of the scripts' trade:
        //  SC2006  backquotes: the scripts also serve the old Bourne shells of
        //          the Unix hosts the suite supports, which lack $(...); the
        //          flags line "CfgFlags=`cat ${ToolPath}/.dp_cfg`" is fixed.
        //  SC2086  option and file lists ($DPrintOptions, $DPrintFiles, the
        //          driver's $Title ...) are split into words on purpose; the
        //          scripts run "set -f" so that no globbing follows.
        //  SC2048  the AIX interface and the launcher pass "$*" on as their
        //          fixed lines say, splitting it into words on purpose.
        //  SC2164  the launcher's "cd <dir>" is its fixed line; the directory
        //          is the application directory the installer just made.
        //  SC2009  the daemon watch loop greps ps: pgrep is missing on several
        //          of the Unix hosts that template serves.
        testsupport::ChildResult r = RunProgram(
            {"/usr/bin/shellcheck", "-s", "sh", "-e", "SC2006,SC2086,SC2048,SC2164,SC2009", script},
            "/");
        EXPECT_EQ(r.status, 0) << r.out;
    }
}

namespace {

// A generated script run the way a print system runs it, and what reaches
// the suite's program. In texts, {app} stands for the application directory
// and {dir} for the row's own directory.
struct ScriptRun {
    const char *name;
    const char *config;                  // the flags file; null: there is none
    const char *script;                  // a script of APP ...
    const char *copyTo = nullptr;        // ... run as a copy of this name in {dir}
    const char *dir = nullptr;           // a directory of the test's tree, made first
    const char *cwd = "/";               // where the script runs
    std::vector<std::string> args{};     // its arguments
    std::vector<std::string> env{};      // more environment
    const char *input = "";              // its standard input
    const char *shell = nullptr;         // one shell; null: each of kShells
    const char *call = nullptr;          // the program called ("call driver"); null: not looked at
    std::vector<std::string> argLines{}; // the "arg " lines of the call log; empty: not looked at
    std::vector<std::string> has{};      // lines the call log holds besides
    int status = -1;                     // the script's exit status; -1: not looked at
    const char *out = nullptr;           // what it prints; null: not looked at
    const char *log = nullptr;           // a file of {dir} that holds ...
    const char *logHolds = nullptr;      // ... this text
};

const std::vector<std::string> kGtkEnv = {
    "env PANGO_RC_FILE={app}/lib/gtk/modules/etc/pango/pangorc",
    "env GTK_IM_MODULE_FILE={app}/lib/gtk/modules/etc/gtk-2.0/gtk.immodules",
    "env GDK_PIXBUF_MODULE_FILE={app}/lib/gtk/modules/etc/gtk-2.0/gdk-pixbuf.loaders"};

std::vector<std::string> With(std::vector<std::string> lines,
                              const std::vector<std::string> &more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// The row again under another name and flags file.
ScriptRun Under(ScriptRun row, const char *name, const char *config) {
    row.name = name;
    row.config = config;
    return row;
}

std::vector<ScriptRun> ScriptRuns() {
    // An empty flags file, one without any print-system word, and none at
    // all all mean System V.
    const ScriptRun systemVQueue{
        .name = "SystemVQueueTakesTheQueueFromItsNameAndCutsTheTitle/EmptyFlags",
        .config = "",
        .script = "DornaPrintdpxx",
        .copyTo = "myq",
        .dir = "interfaces",
        .cwd = "{dir}",
        .args = {"12", "carol", "Report###tail", "2", "a b", "/f1", "/f2"},
        .argLines = {"arg -dmyq", "arg -i", "arg /f1", "arg /f2"},
        .has = {"cwd {app}", "env DPrintPrinter=myq", "env DPrintRequest_id=12",
                "env DPrintUser_name=carol", "env DPrintTitle=Report", "env DPrintCopies=2",
                "env DPrintOption_list=a b"}};
    const ScriptRun lprngDriverRun{
        .name = "DriverScriptUnderLprngAndBsdPassesPrinterOptionsAndFiles/Lprng",
        .config = " LPRng ",
        .script = "v4DriverScript",
        .args = {"-Plp", "-d/sp", "-ef1,f2", "-Zx,y", "-nuser", "-hh"},
        .call = "call driver",
        .argLines = {"arg -dlp", "arg -ox", "arg -oy", "arg /sp/f1", "arg /sp/f2"},
        .has = With({"env DPrintUser=-u user"}, kGtkEnv),
        .status = 0,
        .out = ""};
    return {
        // lpd's input-filter arguments; the job comes on standard input.
        {.name = "BsdQueueRunsTheTtyProgramInTheSpoolDirectory",
         .config = " BSD ",
         .script = "DornaPrintdpxx",
         .dir = "lpd/lp1",
         .cwd = "{dir}",
         .args = {"-c", "-w80", "-l66", "-i0", "-n", "alice", "-h", "host1", "/acct"},
         .env = {"REC_STDIN=1"},
         .input = "JOB DATA",
         .call = "call dprdpxxtty",
         .argLines = {"arg -dlp1", "arg -f"},
         .has = {"cwd {dir}", "stdin JOB DATA", "env DPrintPrinter=lp1", "env DPrintQueue={dir}"},
         .log = "dprintdpxx.log",
         .logHolds = "output of dprdpxxtty\n"},
        // The tty program's output is discarded.
        {.name = "LprngQueueTurnsLprngOptionsIntoTtyOptions",
         .config = " LPRng ",
         .script = "DornaPrintdpxx",
         .dir = "cwd",
         .cwd = "{dir}",
         .args = {"-Plp2", "-d/var/spool/lpd/lp2", "-edfA1,dfA2", "-Zo1,o2", "-nbob", "-hhost2"},
         .argLines = {"arg -dlp2", "arg -f", "arg -oo1", "arg -oo2", "arg /var/spool/lpd/lp2/dfA1",
                      "arg /var/spool/lpd/lp2/dfA2"},
         .has = {"cwd {app}", "env DPrintFileSourceDir={dir}", "env SPOOL_DIR=/var/spool/lpd/lp2",
                 "env DPrintUser=bob", "env DPrintHost=host2"},
         .status = 0,
         .out = ""},
        systemVQueue,
        Under(systemVQueue, "SystemVQueueTakesTheQueueFromItsNameAndCutsTheTitle/FlagsWithoutAWord",
              " nothing here "),
        Under(systemVQueue, "SystemVQueueTakesTheQueueFromItsNameAndCutsTheTitle/NoFlagsFile",
              nullptr),
        // The last print-system word of the flags file wins.
        {.name = "CupsQueueTakesThePrinterFromTheEnvironment",
         .config = " BSD CUPS ",
         .script = "DornaPrintdpxx",
         .args = {"7", "dave", "T###kept", "1", "o=1", "/f"},
         .env = {"PRINTER=cq"},
         .argLines = {"arg -dcq", "arg -i", "arg /f"},
         .has = {"env DPrintPrinter=cq", "env DPrintTitle=T###kept", "cwd {app}"}},
        {.name = "AixQueueHandsEverythingToTheAixInterface",
         .config = " AIX ",
         .script = "DornaPrintdpxx",
         .args = {"-q", "x", "file"},
         .shell = "/usr/bin/dash",
         .call = "call AixInterface",
         .argLines = {"arg -q", "arg x", "arg file"},
         .has = {"cwd {app}"}},
        lprngDriverRun,
        Under(lprngDriverRun, "DriverScriptUnderLprngAndBsdPassesPrinterOptionsAndFiles/Bsd",
              " BSD "),
        // The title loses its "###" tail; each option word follows -o.
        {.name = "DriverScriptUnderSystemVBuildsDriverOptions",
         .config = " V5 ",
         .script = "v4DriverScript",
         .copyTo = "q5",
         .dir = "interfaces",
         .args = {"12", "erin@host", "T###z", "3", "o1 o2", "/f"},
         .env = {"DISPLAY="},
         .argLines = {"arg -dq5", "arg -oCopies=3", "arg -uerin", "arg -t", "arg T", "arg -oo1",
                      "arg -oo2", "arg /f"},
         .has = {"env DISPLAY=:0.0", "env DPrintRequest_id=-o JobID=12", "cwd {app}"}},
        {.name = "DriverScriptUnderSystemVBuildsDriverOptions/ADisplayOfTheCallersOwnIsKept",
         .config = " V5 ",
         .script = "v4DriverScript",
         .copyTo = "q5",
         .dir = "interfaces",
         .args = {"1", "u", "t", "1", "", "/f"},
         .env = {"DISPLAY=host:1"},
         .shell = "/usr/bin/dash",
         .has = {"env DISPLAY=host:1"}},
        {.name = "DriverScriptUnderCupsBuildsDriverOptions",
         .config = " CUPS ",
         .script = "v4DriverScript",
         .args = {"7", "fr\"ank", "My \"Title\"", "2", "a=1  b=2", "/f"},
         .env = {"PRINTER=cq", "DISPLAY="},
         .argLines = {"arg -dcq", "arg -oCopies=2", "arg -u", "arg frank", "arg -t", "arg My Title",
                      "arg -o", "arg a=1", "arg -o", "arg b=2", "arg /f"},
         .has = {"env DISPLAY=:0.0", "cwd {app}"},
         .status = 0},
        {.name = "DriverScriptUnderCupsBuildsDriverOptions/NoOptionsGiveNoStrayO",
         .config = " CUPS ",
         .script = "v4DriverScript",
         .args = {"7", "u", "t", "1", "", "/f"},
         .env = {"PRINTER=cq"},
         .shell = "/usr/bin/dash",
         .argLines = {"arg -dcq", "arg -oCopies=1", "arg -u", "arg u", "arg -t", "arg t",
                      "arg /f"}},
        {.name = "DriverScriptUnderAixRunsTheDriverWithAixFlag",
         .config = " AIX ",
         .script = "v4DriverScript",
         .args = {"a", "b c"},
         .shell = "/usr/bin/bash",
         .argLines = {"arg -f", "arg AIX", "arg a", "arg b c"},
         .has = {"cwd {app}"}},
    };
}

// text with {app} and {dir} put in.
std::string Fill(std::string text, const std::string &app, const std::string &dir) {
    const std::pair<std::string, std::string> marks[] = {{"{app}", app}, {"{dir}", dir}};
    for (const auto &[mark, value] : marks)
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at))
            text.replace(at, mark.size(), value);
    return text;
}

} // namespace

TEST(QueueScripts, EachPrintSystemHandsTheJobToItsProgram) {
    for (const ScriptRun &row : ScriptRuns()) {
        SCOPED_TRACE(row.name);
        ScriptSite site;
        if (row.config)
            site.SetConfig(row.config);
        else
            site.RemoveConfig();
        std::string dir = row.dir ? site.Dir(row.dir) : "";
        auto fill = [&](const std::string &text) { return Fill(text, site.app(), dir); };
        std::string script = row.script;
        if (row.copyTo) {
            script = dir + "/" + row.copyTo;
            testsupport::Shell("cp '" + site.app() + "/" + row.script + "' '" + script + "'");
        }
        std::vector<const char *> shells(std::begin(kShells), std::end(kShells));
        if (row.shell) shells = {row.shell};
        std::vector<std::string> env;
        for (const std::string &e : row.env)
            env.push_back(fill(e));
        for (const char *shell : shells) {
            SCOPED_TRACE(shell);
            if (row.log) unlink((dir + "/" + row.log).c_str());
            auto calls = site.Call(shell, script, row.args, fill(row.cwd), env, row.input);
            if (row.call) {
                EXPECT_EQ(Only(calls, "call "), std::vector<std::string>{row.call});
            }
            if (!row.argLines.empty()) {
                EXPECT_EQ(Only(calls, "arg "), row.argLines);
            }
            for (const std::string &line : row.has)
                EXPECT_TRUE(Has(calls, fill(line))) << fill(line);
            if (row.status >= 0) {
                EXPECT_EQ(site.last().status, row.status);
            }
            if (row.out) {
                EXPECT_EQ(site.last().out, row.out);
            }
            if (row.log) {
                EXPECT_EQ(ReadFile(dir + "/" + row.log), row.logHolds);
            }
        }
    }
}

TEST(QueueScripts, BsdFilterCopiesTheJobRetriesAndRemovesTheCopy) {
    ScriptSite site;
    site.SetConfig(" BSD ");
    std::string queue = site.Dir("lpd/lp1");
    site.Dir("spool/lp1");
    for (const char *shell : kShells) {
        SCOPED_TRACE(shell);
        // The filter fails twice: it is run again until it succeeds.
        auto calls =
            site.Call(shell, "DornaDSF", {"-w80", "-l66"}, queue, {"DSF_FAILS=2"}, "PAGE 1");
        auto args = Only(calls, "arg ");
        ASSERT_EQ(args.size(), 3u);
        EXPECT_EQ(args[0], args[1]);
        EXPECT_EQ(args[0].rfind("arg " + site.spool() + "/lp1/lp1.", 0), 0u) << args[0];
        EXPECT_EQ(Only(calls, "content "), std::vector<std::string>(3, "content PAGE 1"));
        EXPECT_FALSE(Exists(args[0].substr(4))) << "the copy of the job is removed";
        EXPECT_TRUE(Has(calls, "env DPrintPrinter=lp1"));
    }
}

// LPRng hands the data on standard input; -f only names the file the user
// printed, which the set-user-ID filter must never be given to open.
TEST(QueueScripts, LprngFilterRunsOnACopyOfStandardInputOnly) {
    ScriptSite site;
    site.SetConfig(" LPRng ");
    std::string spoolDir = site.Dir("lpd");
    std::string queue = site.Dir("lpd/lp3");
    std::string other = spoolDir + "/dfA2";
    WriteFile(other, "OTHER");
    for (const std::vector<std::string> &names : {std::vector<std::string>{"-f(STDIN)"},
                                                  {"-f(stdin)", "-f", other},
                                                  {"-f/etc/shadow"},
                                                  {}}) {
        for (const char *shell : kShells) {
            SCOPED_TRACE(std::string(shell) + " " + (names.empty() ? "" : names.back()));
            std::vector<std::string> args{"-Apr@h+1", "-Ff",   "-Hh",   "-Jjob",
                                          "-Lbob",    "-Plp3", "-Qlp3", "-Zo1,o2"};
            args.insert(args.end(), names.begin(), names.end());
            args.insert(args.end(), {"-x0", "acct"});
            auto calls =
                site.Call(shell, "DornaDSF", args, queue, {"SPOOL_DIR=" + spoolDir}, "FROM STDIN");
            EXPECT_EQ(site.last().status, 0) << site.last().out;
            auto got = Only(calls, "arg ");
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].rfind("arg " + spoolDir + "/lp3.", 0), 0u) << got[0];
            EXPECT_EQ(Only(calls, "content "), std::vector<std::string>{"content FROM STDIN"});
            EXPECT_FALSE(Exists(got[0].substr(4)));
            EXPECT_TRUE(Exists(other));
        }
    }
}

TEST(QueueScripts, SystemVAndCupsFiltersRunInTheApplicationDirectory) {
    ScriptSite site;
    std::string queue = site.Dir("interfaces") + "/q7";
    testsupport::Shell("cp '" + site.app() + "/DornaDSF' '" + queue + "'");
    site.SetConfig(" V5 ");
    auto calls = site.Call("/usr/bin/dash", queue, {"9", "u", "T###x", "1", "o", "/f1"}, "/",
                           {"DSF_FAILS=1"});
    EXPECT_EQ(Only(calls, "arg "), (std::vector<std::string>{"arg /f1", "arg /f1"}));
    EXPECT_TRUE(Has(calls, "env DPrintPrinter=q7"));
    EXPECT_TRUE(Has(calls, "env DPrintTitle=T###x"));
    EXPECT_TRUE(Has(calls, "cwd " + site.app()));

    site.SetConfig(" CUPS ");
    calls = site.Call("/usr/bin/bash", "DornaDSF", {"9", "u", "t", "1", "o", "/f1", "/f2"}, "/",
                      {"PRINTER=cq"});
    EXPECT_EQ(Only(calls, "arg "), (std::vector<std::string>{"arg /f1", "arg /f2"}));
    EXPECT_TRUE(Has(calls, "env DPrintPrinter=cq"));

    site.SetConfig(" AIX ");
    calls = site.Call("/usr/bin/dash", "DornaDSF", {"-a", "b"}, "/");
    EXPECT_EQ(Only(calls, "arg "), (std::vector<std::string>{"arg -a", "arg b"}));
}

// Every configuration of the filter wrapper: a filter that fails is run
// again a second later until it succeeds; one that cannot run at all stops
// the job at once with a message and the shell's status.
TEST(QueueScripts, FilterWrapperRetriesAFailingFilterAndStopsForOneThatCannotRun) {
    ScriptSite site;
    // A wrapper that loops for ever must not hang the test.
    site.Wrap({"/usr/bin/timeout", "20"});
    const std::string lpd = site.Dir("lpd");
    site.Dir("spool/lp1");
    const std::string interfaces = site.Dir("interfaces");
    testsupport::Shell("cp '" + site.app() + "/DornaDSF' '" + interfaces + "/q7'");
    struct Config {
        const char *flags;
        std::string script;
        std::vector<std::string> args;
        std::string cwd;
        std::vector<std::string> env;
        std::string copies; // directory of the spooled copy, empty when none is made
    } configs[] = {
        {" AIX ", "DornaDSF", {"-a", "b"}, "/", {}, ""},
        {" BSD ", "DornaDSF", {"-w80"}, site.Dir("lpd/lp1"), {}, site.spool() + "/lp1"},
        {" LPRng ",
         "DornaDSF",
         {"-Plp3", "-f(stdin)"},
         site.Dir("lpd/lp3"),
         {"SPOOL_DIR=" + lpd},
         lpd},
        {" V5 ", interfaces + "/q7", {"9", "u", "t", "1", "o", "/f1"}, "/", {}, ""},
        {" CUPS ", "DornaDSF", {"9", "u", "t", "1", "o", "/f1"}, "/", {"PRINTER=cq"}, ""},
    };
    const std::string dsf = site.app() + "/dsf";
    auto copiesLeft = [](const std::string &dir) {
        return dir.empty() ? std::string()
                           : testsupport::Shell("ls -A '" + dir + "' | grep '^lp.*[.]'").out;
    };
    for (const Config &c : configs) {
        site.SetConfig(c.flags);
        for (const char *shell : kShells) {
            SCOPED_TRACE(std::string(shell) + c.flags);
            double seconds = 0;
            auto call = [&](std::vector<std::string> env) {
                env.insert(env.end(), c.env.begin(), c.env.end());
                auto start = std::chrono::steady_clock::now();
                auto calls = site.Call(shell, c.script, c.args, c.cwd, env, "PAGE");
                seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                return calls;
            };

            // Fails twice: printed once, on the third run, about two seconds
            // later (waiting is the same code in both shells: dash only).
            if (shell == kShells[0]) {
                auto calls = call({"DSF_FAILS=2"});
                EXPECT_EQ(site.last().status, 0) << site.last().out;
                EXPECT_EQ(Only(calls, "call "), std::vector<std::string>(3, "call dsf"));
                EXPECT_GE(seconds, 1.9);
                EXPECT_LT(seconds, 10.0);
                EXPECT_EQ(copiesLeft(c.copies), "") << "the spooled copy is removed";
            }

            // Missing, then not executable: at once, with a message.
            const std::string q = "'" + dsf + "'";
            struct Broken {
                std::string make, undo;
                int status;
            } broken[] = {{"mv " + q + " " + q + ".parked", "mv " + q + ".parked " + q, 127},
                          {"chmod 644 " + q, "chmod 755 " + q, 126}};
            for (const Broken &b : broken) {
                testsupport::Shell(b.make);
                call({});
                testsupport::Shell(b.undo);
                EXPECT_EQ(site.last().status, b.status) << site.last().out;
                EXPECT_NE(site.last().out.find("DornaDSF: cannot run " + dsf + " (status " +
                                               std::to_string(b.status) + ")\n"),
                          std::string::npos)
                    << site.last().out;
                EXPECT_LT(seconds, 5.0);
                EXPECT_EQ(copiesLeft(c.copies), "") << "the spooled copy is removed";
            }
        }
    }
}

// A filter that never succeeds, because it crashes or always fails, is run
// 30 times in all; then the job ends with status 2 and a message naming the
// filter and its last status, in every configuration and shell. The pause
// between runs is taken out of a copy of the wrapper (the only line that
// differs), so that the table runs in moments; the wrapper as generated is
// timed once below.
TEST(QueueScripts, FilterWrapperGivesUpAfterThirtyFailedRuns) {
    ScriptSite site;
    site.Wrap({"/usr/bin/timeout", "60"});
    const std::string lpd = site.Dir("lpd");
    site.Dir("spool/lp1");
    const std::string fast = site.Dir("fast");
    testsupport::Shell("sed 's/^DPrintPause=1$/DPrintPause=0/' '" + site.app() + "/DornaDSF' > '" +
                       fast + "/q7' && chmod 755 '" + fast + "/q7'");
    ASSERT_NE(ReadFile(fast + "/q7").find("\nDPrintPause=0\n"), std::string::npos);
    const std::string dsf = site.app() + "/dsf";
    const std::string runs = site.Dir("runs") + "/count";
    const struct {
        const char *name;
        const char *body; // what the filter does after counting its run
        int status;       // the status the wrapper sees
    } filters[] = {
        {"segfault", "kill -SEGV $$", 139},
        {"always exit 1", "exit 1", 1},
    };
    const struct {
        const char *flags;
        std::vector<std::string> args;
        std::string cwd;
        std::vector<std::string> env;
        std::string copies; // directory of the spooled copy, empty when none is made
    } configs[] = {
        {" AIX ", {"-a", "b"}, "/", {}, ""},
        {" BSD ", {"-w80"}, site.Dir("lpd/lp1"), {}, site.spool() + "/lp1"},
        {" LPRng ", {"-Plp3", "-f(stdin)"}, site.Dir("lpd/lp3"), {"SPOOL_DIR=" + lpd}, lpd},
        {" V5 ", {"9", "u", "t", "1", "o", "/f1"}, "/", {}, ""},
        {" CUPS ", {"9", "u", "t", "1", "o", "/f1"}, "/", {"PRINTER=cq"}, ""},
    };
    for (const auto &f : filters) {
        WriteFile(dsf, "#!/bin/sh\necho run >> '" + runs + "'\n" + f.body + "\n", 0755);
        for (const auto &c : configs) {
            site.SetConfig(c.flags);
            for (const char *shell : kShells) {
                SCOPED_TRACE(std::string(f.name) + " " + shell + c.flags);
                unlink(runs.c_str());
                site.Call(shell, fast + "/q7", c.args, c.cwd, c.env, "PAGE");
                EXPECT_EQ(site.last().status, 2) << site.last().out;
                EXPECT_EQ(Lines(ReadFile(runs)).size(), 30u);
                EXPECT_NE(
                    site.last().out.find("DornaDSF: " + dsf + " failed 30 times, last status " +
                                         std::to_string(f.status) + "; the job is given up\n"),
                    std::string::npos)
                    << site.last().out;
                if (!c.copies.empty()) {
                    EXPECT_EQ(testsupport::Shell("ls -A '" + c.copies + "' | grep '^lp.*[.]'").out,
                              "")
                        << "the spooled copy is removed";
                }
            }
        }
    }

    // As generated: a second between runs, so the job ends after about 29.
    WriteFile(dsf, "#!/bin/sh\necho run >> '" + runs + "'\nexit 1\n", 0755);
    unlink(runs.c_str());
    site.SetConfig(" AIX ");
    auto start = std::chrono::steady_clock::now();
    site.Call("/usr/bin/dash", "DornaDSF", {}, "/");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(site.last().status, 2) << site.last().out;
    EXPECT_EQ(Lines(ReadFile(runs)).size(), 30u);
    EXPECT_GE(seconds, 28.5);
    EXPECT_LT(seconds, 58.0);
}

// Titles, user names and options are texts of whoever sent the job: each
// reaches the suite's programs as one argument (or one variable), never as
// words or commands of its own.
TEST(QueueScripts, JobTextsReachTheProgramsAsSingleArguments) {
    ScriptSite site;
    const std::string interfaces = site.Dir("interfaces");
    testsupport::Shell("cp '" + site.app() + "/v4DriverScript' '" + interfaces + "/q5'");
    testsupport::Shell("cp '" + site.app() + "/DornaPrintdpxx' '" + interfaces + "/p5'");
    const std::string marker = site.Dir("marks") + "/pwned";
    const std::string texts[] = {
        "two words",
        "it's \"quoted\"",
        "$(touch " + marker + ")",
        "-d otherq",
        "a; touch " + marker,
        "`touch " + marker + "`",
        "*",
        " -t x ",
    };
    auto noQuotes = [](std::string t) {
        t.erase(std::remove(t.begin(), t.end(), '"'), t.end());
        return t;
    };
    for (const std::string &t : texts) {
        for (const char *shell : kShells) {
            SCOPED_TRACE(std::string(shell) + " [" + t + "]");
            site.SetConfig(" V5 ");
            auto calls = site.Call(shell, interfaces + "/q5", {"12", t, t, "1", "", "/f"}, "/");
            EXPECT_EQ(Only(calls, "arg "),
                      (std::vector<std::string>{"arg -dq5", "arg -oCopies=1", "arg -u" + t,
                                                "arg -t", "arg " + t, "arg /f"}));
            calls = site.Call(shell, interfaces + "/p5", {"12", t, t, "1", t, "/f"}, "/");
            EXPECT_EQ(Only(calls, "arg "),
                      (std::vector<std::string>{"arg -dp5", "arg -i", "arg /f"}));
            EXPECT_TRUE(Has(calls, "env DPrintTitle=" + t));
            EXPECT_TRUE(Has(calls, "env DPrintUser_name=" + t));
            EXPECT_TRUE(Has(calls, "env DPrintOption_list=" + t));

            site.SetConfig(" CUPS ");
            calls =
                site.Call(shell, "v4DriverScript", {"7", t, t, "1", "", "/f"}, "/", {"PRINTER=cq"});
            EXPECT_EQ(Only(calls, "arg "),
                      (std::vector<std::string>{"arg -dcq", "arg -oCopies=1", "arg -u",
                                                "arg " + noQuotes(t), "arg -t",
                                                "arg " + noQuotes(t), "arg /f"}));
            calls =
                site.Call(shell, "DornaPrintdpxx", {"7", t, t, "1", "", "/f"}, "/", {"PRINTER=cq"});
            EXPECT_EQ(Only(calls, "arg "),
                      (std::vector<std::string>{"arg -dcq", "arg -i", "arg /f"}));
            EXPECT_TRUE(Has(calls, "env DPrintTitle=" + t));
            calls = site.Call(shell, "DornaDSF", {"7", t, t, "1", "", "/f"}, "/", {"PRINTER=cq"});
            EXPECT_EQ(Only(calls, "arg "), std::vector<std::string>{"arg /f"});
            EXPECT_TRUE(Has(calls, "env DPrintUser_name=" + t));

            // LPRng: an option of -Z and a user of -n, as lpd passes them.
            site.SetConfig(" LPRng ");
            std::vector<std::string> lprng{"-J" + t, "-Plp",   "-d/sp", "-edfA1",
                                           "-Z" + t, "-n" + t, "-hh"};
            calls = site.Call(shell, "DornaPrintdpxx", lprng, "/");
            EXPECT_EQ(
                Only(calls, "arg "),
                (std::vector<std::string>{"arg -dlp", "arg -f", "arg -o" + t, "arg /sp/dfA1"}));
            EXPECT_TRUE(Has(calls, "env DPrintUser=" + t));
            calls = site.Call(shell, "v4DriverScript", lprng, "/");
            EXPECT_EQ(Only(calls, "arg "),
                      (std::vector<std::string>{"arg -dlp", "arg -o" + t, "arg /sp/dfA1"}));
        }
    }
    EXPECT_FALSE(Exists(marker)) << "a job text ran as a command";
}

namespace {

// A template file as the build reads it: each "@include <block> [<word>]"
// line stands for the block's lines (templates/<block>), "@1" in them being
// the word.
std::string TemplateText(const std::string &name) {
    const std::string dir = std::string(SETUP_SOURCE_DIR) + "/templates/";
    std::string file = ReadFile(dir + name + ".txt"), out;
    for (size_t start = 0; start < file.size();) {
        size_t end = file.find('\n', start);
        end = end == std::string::npos ? file.size() : end + 1;
        std::string line = file.substr(start, end - start);
        start = end;
        if (line.rfind("@include ", 0) != 0) {
            out += line;
            continue;
        }
        std::istringstream words(line.substr(9));
        std::string block, word;
        words >> block >> word;
        std::string text = ReadFile(dir + block);
        EXPECT_FALSE(text.empty()) << name << " includes " << block;
        for (size_t at = 0; (at = text.find("@1", at)) != std::string::npos; at += word.size())
            text.replace(at, 2, word);
        out += text;
    }
    return out;
}

} // namespace

TEST(QueueScripts, EveryTemplateIsItsTextFileAsItStands) {
    // One-line templates (a script's first line) come without their line
    // end; longer ones keep every byte of the file, shared blocks included.
    const struct {
        const char *file;
        const char *text;
    } kTemplates[] = {
        {"ScriptShShell", ScriptShShell},
        {"ScriptBanner", ScriptBanner},
        {"DornaPrintdpxxScript", DornaPrintdpxxScript},
        {"pv4DriverScript", pv4DriverScript},
        {"DornaDSFScript", DornaDSFScript},
        {"SimpleScript", SimpleScript},
        {"DPrintDControlScript", DPrintDControlScript},
        {"DPrintDControlMsgScript", DPrintDControlMsgScript},
        {"DPrintDWatchScript", DPrintDWatchScript},
        {"ScriptTail", ScriptTail},
    };
    for (const auto &t : kTemplates) {
        std::string file = TemplateText(t.file);
        if (std::count(file.begin(), file.end(), '\n') == 1 && file.back() == '\n') file.pop_back();
        EXPECT_EQ(std::string(t.text), file) << t.file;
    }
    EXPECT_STREQ(ScriptShShell, "#!/bin/sh");
}
