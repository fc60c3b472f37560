// The sample install site: its files, its archive, the suite's own programs,
// and a whole installation from it in the sandbox.
#include "Sandbox.h"

#include <cstdlib>
#include <dirent.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using e2e::Call;
using e2e::Calls;
using e2e::Contains;
using e2e::Lines;

const std::string kSite = e2e::SiteDir();
const std::string kPrograms = DORNA_SITE_PROGRAMS;
const std::string kSource = DORNA_SITE_SOURCE;

std::vector<std::string> Words(const std::string &text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::set<std::string> DirEntries(const std::string &dir) {
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// A scratch directory of this test process, emptied.
std::string Scratch(const std::string &name) {
    std::string dir = std::string(e2e::ScratchDir()) + "/" + name + "." + std::to_string(getpid());
    e2e::RunHost({"sh", "-c", "rm -rf \"$0\" && mkdir -p \"$0\"", dir});
    return dir;
}

std::vector<std::string> SiteList() {
    return Words(e2e::ReadHostFile(kSite + "/disks"));
}

TEST(Site, DisksNamesItselfAndThePiecesInOrderAndNothingElseIsMissing) {
    std::vector<std::string> list = SiteList();
    ASSERT_GE(list.size(), 3u) << "no disks list in " << kSite;
    EXPECT_EQ(list.front(), "disks");
    EXPECT_EQ(list.back(), "end_of_list");
    EXPECT_EQ(e2e::ReadHostFile(kSite + "/disks").back(), '\n');
    std::vector<std::string> pieces(list.begin() + 1, list.end() - 1);
    ASSERT_GE(pieces.size(), 2u) << "the archive should come in several pieces";
    for (size_t i = 0; i < pieces.size(); i++) {
        std::string want = std::string("pkg_tar.a") + static_cast<char>('a' + i);
        EXPECT_EQ(pieces[i], want);
    }
    std::set<std::string> want{"disks", "isize", "tsize"};
    want.insert(pieces.begin(), pieces.end());
#if DORNA_HAVE_SETUP
    want.insert("setup");
    EXPECT_EQ(access((kSite + "/setup").c_str(), X_OK), 0);
#endif
    EXPECT_EQ(DirEntries(kSite), want);
}

TEST(Site, SizeFilesHoldWholeNumbersOfKilobyteBlocks) {
    for (const char *name : {"isize", "tsize"}) {
        std::string text = e2e::ReadHostFile(kSite + "/" + name);
        char *end = nullptr;
        double value = strtod(text.c_str(), &end);
        EXPECT_GT(value, 10) << name << ": " << text;
        EXPECT_EQ(std::string(end), "\n") << name << ": " << text;
    }
}

// Joins the pieces as the installer does, in list order, and lists the archive.
TEST(Site, PiecesJoinIntoACompressedTarOfThePackage) {
    // compress(1) when the build host has it, gzip otherwise.
    bool haveCompress = e2e::RunHost({"sh", "-c", "command -v compress"}).status == 0;
    EXPECT_EQ(e2e::ReadHostFile(kSite + "/pkg_tar.aa").substr(0, 2),
              haveCompress ? "\x1f\x9d" : "\x1f\x8b");
    std::string dir = Scratch("join");
    std::string join = "cd \"$0\" && for p in $(sed -n '/^pkg_tar\\./p' \"$1/disks\"); do"
                       " cat \"$1/$p\" >> DornaLinuxi386Dpxx.tar.Z; done &&"
                       " /usr/bin/uncompress DornaLinuxi386Dpxx.tar.Z &&"
                       " tar tvf DornaLinuxi386Dpxx.tar";
    e2e::Result r = e2e::RunHost({"sh", "-c", join, dir, kSite});
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> names;
    for (const std::string &line : Lines(r.out)) {
        std::vector<std::string> w = Words(line);
        ASSERT_EQ(w.size(), 6u) << line;
        EXPECT_EQ(w[1], "0/0") << line;
        names.insert(w[5]);
        if (w[5] != "pkg/" && w[5] != "pkg/selinux/" && w[5] != "pkg/pkg.list") {
            EXPECT_EQ(w[0], "-rwxr-xr-x") << line;
        }
    }
    std::set<std::string> want{
        "pkg/",           "pkg/AixInterface", "pkg/dpqadmin",
        "pkg/dprdpxxtty", "pkg/driver",       "pkg/dsf",
        "pkg/pkg.list",   "pkg/selinux/",     "pkg/selinux/TLDPatchSELinuxPolicy"};
    EXPECT_EQ(names, want);
    e2e::RunHost({"rm", "-rf", dir});
}

// The package list names only directives the installer knows, copies only
// what the package holds, and copies every program the installer and the
// generated scripts start.
TEST(Site, PackageListCopiesEveryProgramAndOnlyWhatThePackageHolds) {
    std::string list = e2e::ReadHostFile(kSource + "/pkg/pkg.list");
    ASSERT_FALSE(list.empty());
    std::set<std::string> directives{"dir", "dirto", "t", "c",      "m",
                                     "#",   "v",     "s", "newdir", "checkps"};
    std::set<std::string> held{
        "AixInterface", "dpqadmin", "dprdpxxtty", "driver",
        "dsf",          "pkg.list", "selinux",    "selinux/TLDPatchSELinuxPolicy"};
    std::set<std::string> copied;
    for (const std::string &line : Lines(list)) {
        std::vector<std::string> w = Words(line);
        size_t at = 0;
        while (at + 3 < w.size() && w[at] == "v") // version conditions chain
            at += 3;
        if (at >= w.size() || w[at] == "#") continue;
        EXPECT_TRUE(directives.count(w[at])) << line;
        ASSERT_GE(w.size(), at + 2) << line;
        const std::string &d = w[at];
        if (d == "c" || d == "dir" || d == "dirto") {
            EXPECT_TRUE(held.count(w[at + 1])) << "not in the package: " << line;
            copied.insert(w[at + 1]);
        }
    }
    for (const char *program :
         {"AixInterface", "dpqadmin", "dprdpxxtty", "driver", "dsf", "selinux"})
        EXPECT_TRUE(copied.count(program)) << program << " is never copied";
}

// Runs a suite program on the host with its log in `logDir`.
e2e::Result RunProgram(const std::string &logDir, const std::string &script,
                       const std::string &input = "") {
    return e2e::RunHost(
        {"sh", "-c", "export DORNA_CALL_LOG_DIR=\"$0\" P=\"$1\"; " + script, logDir, kPrograms},
        input);
}

TEST(SuitePrograms, RecordArgumentsDirectoryPrintVariablesAndInput) {
    std::string logs = Scratch("programs");
    for (const char *name : {"dprdpxxtty", "dsf", "driver", "AixInterface"}) {
        std::string script = std::string("cd /usr/share && PRINTER=lp0 DPrintTitle='a b'"
                                         " SPOOL_DIR=/var/spool/lpd/lp0 UNRELATED=x"
                                         " \"$P/") +
                             name + "\" -dlp0 -f 'two words' ''";
        e2e::Result r = RunProgram(logs, script, std::string("job\n\x01\xff\\", 7));
        ASSERT_EQ(r.status, 0) << name << r.err;
        std::vector<Call> calls = Calls(e2e::ReadHostFile(logs + "/" + name + ".log"));
        ASSERT_EQ(calls.size(), 1u) << name;
        const Call &c = calls[0];
        EXPECT_EQ(c.program, name);
        std::vector<std::string> args{kPrograms + "/" + name, "-dlp0", "-f", "two words", ""};
        EXPECT_EQ(c.args, args);
        EXPECT_EQ(c.cwd, "/usr/share");
        EXPECT_EQ(c.uid, std::to_string(getuid()) + " " + std::to_string(geteuid()));
        std::vector<std::string> env{"DPrintTitle=a b", "PRINTER=lp0",
                                     "SPOOL_DIR=/var/spool/lpd/lp0"};
        std::vector<std::string> got;
        for (const std::string &e : c.env)
            if (e.rfind("PATH=", 0) != 0 && e.rfind("LANG=", 0) != 0) got.push_back(e);
        EXPECT_EQ(got, env) << name;
        EXPECT_EQ(c.stdinLine, "7 job\\n\\x01\\xff\\\\") << name;
        EXPECT_EQ(c.status, "0");
    }
    e2e::RunHost({"rm", "-rf", logs});
}

TEST(SuitePrograms, EscapeEveryByteThatWouldBreakARecord) {
    std::string logs = Scratch("escapes");
    e2e::Result r = RunProgram(logs, "\"$P/dsf\" \"$(printf 'a\\nb\\tc\\rd\\\\e\\033f')\"");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Call> calls = Calls(e2e::ReadHostFile(logs + "/dsf.log"));
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].args.size(), 2u);
    EXPECT_EQ(calls[0].args[1], "a\\nb\\tc\\rd\\\\e\\x1bf");
    e2e::RunHost({"rm", "-rf", logs});
}

TEST(SuitePrograms, QueueToolAcceptsUpgradeAndCleanOnly) {
    std::string logs = Scratch("dpqadmin");
    struct Case {
        std::string args;
        int status;
        std::string out, err;
    } cases[] = {
        {"-upgrade", 0, "dpqadmin: ", ""},
        {"-clean", 0, "dpqadmin: ", ""},
        {"", 2, "", "dpqadmin: expected one option, -upgrade or -clean"},
        {"-upgrade -clean", 2, "", "dpqadmin: expected one option"},
        {"-Upgrade", 2, "", "dpqadmin: unknown option: -Upgrade"},
        {"--help", 0, "Usage: dpqadmin -upgrade | -clean", ""},
    };
    for (const Case &c : cases) {
        e2e::Result r = RunProgram(logs, "\"$P/dpqadmin\" " + c.args, "never read\n");
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << c.args << ": " << r.out;
        EXPECT_TRUE(Contains(r.err, c.err)) << c.args << ": " << r.err;
    }
    std::vector<Call> calls = Calls(e2e::ReadHostFile(logs + "/dpqadmin.log"));
    ASSERT_EQ(calls.size(), 5u) << "--help is not a call";
    EXPECT_EQ(calls[0].args.back(), "-upgrade");
    EXPECT_EQ(calls[0].stdinLine, "not read");
    EXPECT_EQ(calls[2].status, "2");
    e2e::RunHost({"rm", "-rf", logs});
}

TEST(SuitePrograms, FailTheFirstCallsWhenToldSoThatRerunsCanBeTested) {
    std::string logs = Scratch("fail-times");
    std::string statuses;
    for (int i = 0; i < 4; i++) {
        e2e::Result r = RunProgram(logs, "DORNA_FAIL_TIMES=2 \"$P/dsf\" job");
        statuses += std::to_string(r.status);
    }
    EXPECT_EQ(statuses, "1100");
    e2e::RunHost({"rm", "-rf", logs});
}

TEST(SuitePrograms, StopReadingAnInputThatStaysSilentAndStillOpen) {
    std::string logs = Scratch("idle");
    e2e::Result r =
        RunProgram(logs, "{ printf abc; sleep 3; } | DORNA_STDIN_IDLE=1 \"$P/dprdpxxtty\"");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Call> calls = Calls(e2e::ReadHostFile(logs + "/dprdpxxtty.log"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].stdinLine, "3 abc");
    e2e::RunHost({"rm", "-rf", logs});
}

TEST(SuitePrograms, AnUnwritableLogWarnsButTheCallSucceeds) {
    e2e::Result r =
        e2e::RunHost({"sh", "-c", "DORNA_CALL_LOG_DIR=/proc/no-such-dir \"$0/dsf\" x", kPrograms});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(
        Contains(r.err, "dsf: warning: cannot record the call in /proc/no-such-dir/dsf.log"))
        << r.err;
}

TEST(SuitePrograms, SelinuxScriptRecordsItsCallAndSaysWhatItDid) {
    std::string logs = Scratch("selinux");
    e2e::Result r = RunProgram(
        logs, "sh " + kSource + "/pkg/selinux/TLDPatchSELinuxPolicy; echo status=$?", "");
    bool enabled = e2e::RunHost({"sh", "-c", "selinuxenabled"}).status == 0;
    EXPECT_EQ(r.out, enabled ? "TLDPatchSELinuxPolicy: SELinux is enabled, but this build ships "
                               "no policy module\nstatus=1\n"
                             : "TLDPatchSELinuxPolicy: SELinux is not enabled, nothing to patch\n"
                               "status=0\n");
    std::vector<Call> calls = Calls(e2e::ReadHostFile(logs + "/TLDPatchSELinuxPolicy.log"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args,
              std::vector<std::string>{kSource + "/pkg/selinux/TLDPatchSELinuxPolicy"});
    e2e::RunHost({"rm", "-rf", logs});
}

// make-site.sh on a host without compress: gzip makes the archive, which the
// installer's fallback (gzip -dfv) reads. The output is named relative to the
// working directory.
TEST(MakeSite, FallsBackToGzipWithoutCompressAndCutsTheAskedPieces) {
    std::string dir = Scratch("gzip-site");
    // A PATH holding the host's tools that make-site.sh uses, but not compress.
    std::string tools = "cp chmod basename tar gzip wc split ls du awk rm mv mkdir cat";
    e2e::Result r = e2e::RunHost(
        {"sh", "-c",
         "mkdir \"$0/bin\" && for t in $1; do ln -s \"$(command -v $t)\" \"$0/bin/$t\"; done &&"
         " cd \"$0\" && PATH=\"$0/bin\" /bin/sh \"$2/make-site.sh\" -o site/ -l \"$2/pkg/pkg.list\""
         " -s \"$2/pkg/selinux/TLDPatchSELinuxPolicy\" -n 5 \"$3/dsf\" \"$3/dpqadmin\"",
         dir, tools, kSource, kPrograms});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> list = Words(e2e::ReadHostFile(dir + "/site/disks"));
    std::vector<std::string> want{"disks",      "pkg_tar.aa", "pkg_tar.ab", "pkg_tar.ac",
                                  "pkg_tar.ad", "pkg_tar.ae", "end_of_list"};
    EXPECT_EQ(list, want);
    EXPECT_EQ(e2e::ReadHostFile(dir + "/site/pkg_tar.aa").substr(0, 2), "\x1f\x8b") << "not gzip";
    r = e2e::RunHost({"sh", "-c",
                      "cd \"$0/site\" && cat pkg_tar.* > x.tar.Z && gzip -dfv x.tar.Z 2>/dev/null"
                      " && tar tf x.tar",
                      dir});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "pkg/\npkg/dpqadmin\npkg/dsf\npkg/pkg.list\npkg/selinux/\n"
                     "pkg/selinux/TLDPatchSELinuxPolicy\n");
    EXPECT_EQ(DirEntries(dir), (std::set<std::string>{"bin", "site"})) << "leftovers";
    e2e::RunHost({"rm", "-rf", dir});
}

TEST(MakeSite, RefusesIncompleteOrBadArguments) {
    std::string script = kSource + "/make-site.sh";
    std::string list = kSource + "/pkg/pkg.list";
    std::string se = kSource + "/pkg/selinux/TLDPatchSELinuxPolicy";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{}, 2, "Usage: make-site.sh"},
        {{"-o", "/nonexistent/x", "-l", list, "-s", se}, 2, "Usage: make-site.sh"},
        {{"-o", "/nonexistent/x", "-l", list, "-s", se, "-n", "0", "/bin/true"},
         1,
         "the number of pieces must be a positive number: 0"},
        {{"-o", "/nonexistent/x", "-l", "/no/list", "-s", se, "/bin/true"},
         1,
         "make-site.sh: missing: /no/list"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv{"sh", script};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        e2e::Result r = e2e::RunHost(argv);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_TRUE(Contains(r.err, c.err)) << r.err;
    }
}

// The installer's own steps with the host's tools, in the sandbox: copy the
// listed files into the work directory, join, decompress, unpack. The work
// directory at its fullest fits in tsize, the tree in isize.
TEST(Site, UnpacksInTheSandboxTheWayTheInstallerDoesAndFitsItsSizes) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("site-unpack");
    box.BindRo(kSite, "/tmp/site");
    e2e::Result r = box.Sh(
        "set -e; W=/tmp/DornaInstall; mkdir $W;"
        " for f in $(sed '/^end_of_list$/q' /tmp/site/disks | grep -v end_of_list); do"
        " cp -p /tmp/site/$f $W; done;"
        " cd $W; for f in $(grep '^pkg_tar\\.' disks); do cat $W/$f >> $W/DornaLinuxi386Dpxx.tar.Z;"
        " done; /usr/bin/uncompress $W/DornaLinuxi386Dpxx.tar.Z; tar xfp DornaLinuxi386Dpxx.tar;"
        " du -sk $W | cut -f1; du -sk $W/pkg | cut -f1; ls -A $W/pkg");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> w = Words(r.out);
    ASSERT_GE(w.size(), 3u) << r.out;
    EXPECT_LE(std::stod(w[0]), std::stod(e2e::ReadHostFile(kSite + "/tsize")));
    EXPECT_LE(std::stod(w[1]), std::stod(e2e::ReadHostFile(kSite + "/isize")));
    std::vector<std::string> names(w.begin() + 2, w.end());
    std::vector<std::string> want{"AixInterface", "dpqadmin", "dprdpxxtty", "driver",
                                  "dsf",          "pkg.list", "selinux"};
    EXPECT_EQ(names, want);
    EXPECT_TRUE(box.Changes().empty()) << "the unpacking only used /tmp";
}

#if DORNA_HAVE_SETUP
// A whole fresh installation from the site: the suite's programs land in the
// application directory and the installer starts them as it should.
TEST(Site, SetupInstallsTheSuiteFromTheSiteAndRunsItsPrograms) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("site-install");
    box.BindRo(kSite, "/tmp/site");
    box.Env("LANG=en_US");
    e2e::Result r = box.Run({"/tmp/site/setup"}, "y\n");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string app = "/usr/Dorna/dpxx";
    struct Want {
        const char *path;
        int mode;
    } files[] = {
        {"dpqadmin", 0755}, {"dprdpxxtty", 04755},  {"dsf", 04755},
        {"driver", 0755},   {"AixInterface", 0755}, {"selinux/TLDPatchSELinuxPolicy", 0755},
    };
    for (const Want &f : files)
        EXPECT_EQ(box.Mode(app + "/" + f.path), f.mode) << f.path;

    std::vector<Call> q = Calls(box.ReadFile("/var/spool/Dorna/calls/dpqadmin.log"));
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].args, (std::vector<std::string>{app + "/dpqadmin", "-upgrade"}));
    EXPECT_EQ(q[1].args, (std::vector<std::string>{app + "/dpqadmin", "-clean"}));
    std::vector<Call> s = Calls(box.ReadFile("/var/spool/Dorna/calls/TLDPatchSELinuxPolicy.log"));
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].args, std::vector<std::string>{app + "/selinux/TLDPatchSELinuxPolicy"});
    EXPECT_NE(access("/usr/Dorna", F_OK), 0) << "the installation reached the host";
}

// The queue interface hands a job to the tty print program: with the flags
// file saying BSD, the queue is the current directory and the job is stdin.
TEST(Site, GeneratedQueueInterfaceHandsTheJobToTheTtyPrintProgram) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("site-queue");
    box.BindRo(kSite, "/tmp/site");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    e2e::Result r = box.Sh("printf ' BSD ' > /usr/Dorna/dpxx/.dp_cfg;"
                           " mkdir -p /var/spool/lpd/lp7 && cd /var/spool/lpd/lp7 &&"
                           " /usr/Dorna/dpxx/DornaPrintdpxx",
                           "%!PS job\n");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Call> calls = Calls(box.ReadFile("/var/spool/Dorna/calls/dprdpxxtty.log"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args,
              (std::vector<std::string>{"/usr/Dorna/dpxx/dprdpxxtty", "-dlp7", "-f"}));
    EXPECT_EQ(calls[0].stdinLine, "9 %!PS job\\n");
}
#endif

} // namespace
