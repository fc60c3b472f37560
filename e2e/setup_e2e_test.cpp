// The installer `setup` run whole, as root in the sandbox, against the sample
// install site: command-line forms, agreement and message languages, install
// media, room, the old-daemon question, the process guard, the root check.
// Every case checks the exit status, the messages and what is on disk after.
#include "Sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const std::string kSite = e2e::SiteDir();
const std::string kApp = "/usr/Dorna/dpxx";

using e2e::Contains;

// The number in a size file of the site plus the margin, as "%e" prints it.
std::string Amount(double value) {
    char buf[64];
    snprintf(buf, sizeof buf, "%e", value);
    return buf;
}
double SiteSize(const char *name) {
    return strtod(e2e::ReadHostFile(kSite + "/" + name).c_str(), nullptr);
}

// A copy of the sample site changed by a shell script run inside the copy.
class SiteCopy {
  public:
    SiteCopy(const std::string &name, const std::string &change) {
        dir_ = std::string(e2e::ScratchDir()) + "/site-" + name + "." + std::to_string(getpid());
        e2e::Result r = e2e::RunHost(
            {"sh", "-c", "rm -rf \"$0\" && cp -a \"$1\" \"$0\" && cd \"$0\" && " + change, dir_,
             kSite});
        ok_ = r.status == 0;
    }
    ~SiteCopy() { e2e::RunHost({"rm", "-rf", dir_}); }
    const std::string &dir() const { return dir_; }
    bool ok() const { return ok_; }

  private:
    std::string dir_;
    bool ok_ = false;
};

// A sandbox with the site at /tmp/site and LANG unset.
struct Box : e2e::Sandbox {
    explicit Box(const std::string &name, const std::string &site = kSite) : e2e::Sandbox(name) {
        BindRo(site, "/tmp/site");
        Unset("LANG");
    }
};

const char *const kEnglishQuestion = "Agree (y) / Disagree (n)? ";

// The text that fresh installations leave in the application directory.
void ExpectInstalledAt(const Box &box, const std::string &app) {
    EXPECT_EQ(box.Mode(app + "/dprdpxxtty"), 04755) << app;
    EXPECT_EQ(box.Mode(app + "/dsf"), 04755) << app;
    EXPECT_EQ(box.Mode(app + "/dpqadmin"), 0755) << app;
    EXPECT_FALSE(box.ReadFile(app + "/.dp_cfg").empty()) << app;
    EXPECT_EQ(box.Mode(app + "/DornaPrintdpxx"), 0755) << app;
}

} // namespace

TEST(SetupRun, FreshInstallationIntoUsrWithDefaults) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-fresh");
    e2e::Result r = box.Sh("/tmp/site/setup; echo \"status=$?\"; ls -a /tmp", "y\n");
    EXPECT_TRUE(Contains(r.out, "status=0")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, kEnglishQuestion));
    EXPECT_FALSE(Contains(r.out, "DornaInstall")) << "the work directory stays: " << r.out;
    EXPECT_TRUE(Contains(r.out, "setup.log"));
    ExpectInstalledAt(box, kApp);
    EXPECT_EQ(box.Mode("/usr/Dorna"), 0755);
    EXPECT_EQ(box.Mode("/var/spool/Dorna"), 0775);
    EXPECT_EQ(box.Mode("/var/spool/Dorna/dpxx/__dpa_download__"), 01777) << "sticky, as /tmp";
    EXPECT_FALSE(box.Changed("/usr/Dorna/dpxx/DornaLinuxi386Dpxx.tar"));
}

TEST(SetupRun, WorkAreaAndInstallRootFromTheCommandLine) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-roots");
    box.Overlay("/opt");
    // /tmp/w is made by the installer; the log shows where the pieces went.
    e2e::Result r =
        box.Sh("/tmp/site/setup /tmp/w/ /opt; echo \"status=$?\"; ls -a /tmp/w; "
               "grep -c 'cp -p  */tmp/site/pkg_tar.aa /tmp/w/DornaInstall' /tmp/setup.log",
               "y\n");
    EXPECT_TRUE(Contains(r.out, "status=0")) << r.out << r.err;
    EXPECT_FALSE(Contains(r.out, "DornaInstall\n")) << r.out;
    ExpectInstalledAt(box, "/opt/Dorna/dpxx");
    EXPECT_EQ(box.Mode("/opt/Dorna/dpxx"), 0775);
    EXPECT_EQ(box.Sh("readlink /usr/Dorna/dpxx").out, "/opt/Dorna/dpxx\n");
}

TEST(SetupRun, RelativeWorkAreaAndRootAreTakenFromTheWorkingDirectory) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-relative");
    // The installer enters its work directory before it installs: relative
    // paths still name the places below the directory it was started in.
    e2e::Result r = box.Sh("mkdir /tmp/start && cd /tmp/start && /tmp/site/setup w r/Dorna/dpxx; "
                           "echo \"status=$?\"; ls -A /tmp/start/w; echo listed; "
                           "test -u /tmp/start/r/Dorna/dpxx/dsf && echo installed; "
                           "grep -c 'pkg_tar.aa /tmp/start/w/DornaInstall' /tmp/setup.log",
                           "y\n");
    EXPECT_TRUE(Contains(r.out, "status=0\nlisted\ninstalled\n1\n")) << r.out << r.err;
    EXPECT_EQ(box.Sh("readlink /usr/Dorna/dpxx").out, "/tmp/start/r/Dorna/dpxx\n");
}

TEST(SetupRun, InstallWordNamesTheRootAndStripsTheSuiteDirectories) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-install-word");
    box.Overlay("/opt");
    e2e::Result r = box.Run({"/tmp/site/setup", "install", "/opt/Dorna/dpxx"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectInstalledAt(box, "/opt/Dorna/dpxx");
    EXPECT_FALSE(box.Changed("/opt/Dorna/dpxx/Dorna"));

    // The link at the well-known location now names /opt: with no root named
    // the next run upgrades there and moves nothing.
    EXPECT_TRUE(box.Sh("rm /opt/Dorna/dpxx/.dp_cfg").status == 0);
    r = box.Run({"/tmp/site/setup"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(box.ReadFile("/opt/Dorna/dpxx/.dp_cfg").empty());
    EXPECT_EQ(box.Sh("readlink /usr/Dorna/dpxx").out, "/opt/Dorna/dpxx\n");

    // "install" as the last word names nothing.
    r = box.Run({"/tmp/site/setup", "install"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(box.Sh("readlink /usr/Dorna/dpxx").out, "/opt/Dorna/dpxx\n");
}

TEST(SetupRun, NamingAnotherRootMovesThePreviousInstallation) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-relocate");
    box.Overlay("/opt");
    ASSERT_EQ(box.Run({"/tmp/site/setup", "install", "/opt"}, "y\n").status, 0);
    ASSERT_EQ(box.Sh("touch /opt/Dorna/dpxx/kept-by-the-move").status, 0);

    // The sample list's link /usr/lib/dpxx still names the old place after
    // the move, so its tree copy through that link fails: the run says so
    // and ends with status 1, everything else done.
    const std::string failedCopy = "ERROR: the installation is incomplete; these steps failed (the "
                                   "log says why):\n  pkg.list line 20: dirto selinux "
                                   "(/usr/lib/dpxx/selinux)\n";
    e2e::Result r = box.Run({"/tmp/site/setup", "install", "/var/x"}, "y\n");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, failedCopy)) << r.err;
    EXPECT_EQ(box.Sh("test -e /opt/Dorna/dpxx || echo gone").out, "gone\n");
    EXPECT_TRUE(box.Changed("/var/x/Dorna/dpxx/kept-by-the-move"));
    ExpectInstalledAt(box, "/var/x/Dorna/dpxx");
    EXPECT_EQ(box.Sh("readlink /usr/Dorna/dpxx").out, "/var/x/Dorna/dpxx\n");

    // Back to /usr: the old link goes, the directory itself moves, no link.
    r = box.Run({"/tmp/site/setup", "install", "/usr"}, "y\n");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, failedCopy)) << r.err;
    EXPECT_EQ(box.Sh("test -d /usr/Dorna/dpxx && ! test -L /usr/Dorna/dpxx && echo dir").out,
              "dir\n");
    EXPECT_TRUE(box.Changed("/usr/Dorna/dpxx/kept-by-the-move"));
    EXPECT_EQ(box.Sh("test -e /var/x/Dorna/dpxx || echo gone").out, "gone\n");
}

TEST(SetupRun, DanglingLinkIsRemovedAndTheRunIsFresh) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-dangling");
    ASSERT_EQ(box.Sh("mkdir -p /usr/Dorna && ln -s /nowhere/Dorna/dpxx /usr/Dorna/dpxx").status, 0);
    e2e::Result r = box.Run({"/tmp/site/setup"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(box.Sh("test -d /usr/Dorna/dpxx && ! test -L /usr/Dorna/dpxx && echo dir").out,
              "dir\n");
    // Fresh: the spool directories and the SELinux script ran.
    EXPECT_EQ(box.Mode("/var/spool/Dorna/dpxx/__dpa_download__"), 01777);
    EXPECT_FALSE(box.ReadFile("/var/spool/Dorna/calls/TLDPatchSELinuxPolicy.log").empty());
}

TEST(SetupRun, RealDirectoryAtTheWellKnownLocationIsAnUpgradeInUsr) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-realdir");
    ASSERT_EQ(box.Sh("mkdir -p /usr/Dorna/dpxx").status, 0);
    e2e::Result r = box.Run({"/tmp/site/setup"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectInstalledAt(box, kApp);
    // An upgrade makes no spool directories and runs no SELinux script.
    EXPECT_FALSE(box.Changed("/var/spool/Dorna/dpxx/__dpa_download__"));
    EXPECT_TRUE(box.ReadFile("/var/spool/Dorna/calls/TLDPatchSELinuxPolicy.log").empty());
}

TEST(SetupRun, VersionAfterTheAgreementAndNothingInstalled) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-version");
    e2e::Result r = box.Run({"/tmp/site/setup", "-v"}, "y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, kEnglishQuestion));
    EXPECT_TRUE(Contains(r.err, "setup 4.30.09\n")) << r.err;
    EXPECT_FALSE(box.Changed("/usr/Dorna"));

    r = box.Sh("/tmp/site/setup /tmp/new -v; echo \"status=$?\"; test -d /tmp/new && echo made",
               "y\n");
    EXPECT_TRUE(Contains(r.out, "status=0\nmade")) << r.out;
}

TEST(SetupRun, HelpAndUnknownOptionsAreAnsweredBeforeTheAgreement) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-usage");
    box.Chdir("/"); // from a working directory under /tmp, that directory would show
    const std::string usage = "Usage: setup [WORK-AREA] [INSTALL-ROOT]\n"
                              "       setup install INSTALL-ROOT\n"
                              "       setup -v\n";
    struct Case {
        std::string args; // words for the shell
        int status;
        std::string error; // start of standard error; empty: the usage is on standard output
    } cases[] = {
        {"-h", 0, ""},
        {"--help", 0, ""},
        {"/tmp/w --help", 0, ""},
        {"-x -h", 0, ""}, // help wins over a refusal
        {"-x", 2, "ERROR: unknown option \"-x\""},
        {"--bogus", 2, "ERROR: unknown option \"--bogus\""}, // "--" alone ends the options
        {"/tmp/w -x", 2, "ERROR: unknown option \"-x\""},
        {"install --opt", 2, "ERROR: unknown option \"--opt\""},
        {"-help", 2, "ERROR: unknown option \"-help\""},
    };
    for (const Case &c : cases) {
        // "y" would accept the agreement, were it asked.
        e2e::Result r = box.Sh("/tmp/site/setup " + c.args +
                                   "; echo \"status=$?\" >&2;"
                                   " echo \"tmp holds:\" $(ls -A /tmp) >&2",
                               "y\n");
        EXPECT_TRUE(Contains(r.err, "status=" + std::to_string(c.status) + "\n")) << c.args << "\n"
                                                                                  << r.err;
        EXPECT_FALSE(Contains(r.out, "Agree (y)")) << c.args;
        // Neither the work area nor the log was made.
        EXPECT_TRUE(Contains(r.err, "\ntmp holds: site\n")) << c.args << "\n" << r.err;
        if (c.error.empty()) {
            EXPECT_EQ(r.out.rfind(usage, 0), 0u) << c.args << "\n" << r.out;
            EXPECT_TRUE(Contains(r.out, "/tmp/setup.log")) << r.out;
            EXPECT_TRUE(Contains(r.out, "Exit status:")) << r.out;
        } else {
            EXPECT_EQ(r.out, "") << c.args;
            EXPECT_EQ(r.err.rfind(c.error, 0), 0u) << c.args << "\n" << r.err;
            EXPECT_TRUE(Contains(r.err, "\n\n" + usage)) << c.args << "\n" << r.err;
            EXPECT_TRUE(Contains(r.err, "Exit status:")) << r.err;
        }
    }
    EXPECT_TRUE(box.Changes().empty());

    // -v alone still waits for the agreement, and the usage names the
    // program by the name it was called with.
    e2e::Result r = box.Run({"/tmp/site/setup", "-v"}, "y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, kEnglishQuestion));
    EXPECT_EQ(r.err, "setup 4.30.09\n");
    r = box.Sh("cp /tmp/site/setup /tmp/install-dorna && /tmp/install-dorna --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: install-dorna [WORK-AREA] [INSTALL-ROOT]\n", 0), 0u) << r.out;
    EXPECT_TRUE(Contains(r.out, "/tmp/install-dorna.log")) << r.out;
}

TEST(SetupRun, AgreementAndMessageLanguagesFollowLang) {
    DORNA_REQUIRE_SANDBOX();
    // Without isize the run stops with message 65 right after the agreement,
    // which shows both languages.
    SiteCopy site("no-isize", "rm isize");
    ASSERT_TRUE(site.ok());
    struct Case {
        const char *lang;
        const char *question;
        const char *message;
    } cases[] = {
        {nullptr, "Agree (y) / Disagree (n)? ",
         "Could not determine how much space needed for install, missing isize.\n"},
        {"fr_FR.UTF-8", "J'accepte (y) / Je refuse (n) ? ", "isize est absent.\n"},
        {"de_DE", "Zustimmen (y) / Ablehnen (n)? ", "Could not determine how much space needed"},
        {"ge_GE", "Zustimmen (y) / Ablehnen (n)? ", "isize fehlt.\n"},
        {"es", "Acepto (y) / No acepto (n)? ", "Could not determine how much space needed"},
        {"nn", "Agree (y) / Disagree (n)? ", "Could not determine how much space needed"},
        {"sv_FI", "Hyväksyn (y) / En hyväksy (n)? ", "Could not determine how much space needed"},
        {"dansk", "Agree (y) / Disagree (n)? ", "Could not determine how much space needed"},
        {"C", "Agree (y) / Disagree (n)? ", "Could not determine how much space needed"},
    };
    for (const Case &c : cases) {
        const std::string name = c.lang ? c.lang : "unset";
        Box box("setup-lang-" + std::to_string(&c - cases), site.dir());
        if (c.lang) box.Env(std::string("LANG=") + c.lang);
        e2e::Result refused = box.Run({"/tmp/site/setup"}, "n\n");
        EXPECT_EQ(refused.status, 0) << name;
        EXPECT_TRUE(Contains(refused.out, c.question)) << name;
        EXPECT_FALSE(Contains(refused.out, c.message)) << name;

        e2e::Result accepted = box.Run({"/tmp/site/setup"}, "y\n");
        EXPECT_EQ(accepted.status, 1) << name;
        EXPECT_TRUE(Contains(accepted.out, c.question)) << name;
        EXPECT_TRUE(Contains(accepted.out, c.message)) << name << ": " << accepted.out;
        EXPECT_TRUE(box.Changes().empty()) << name;
    }
}

TEST(SetupRun, SiteWithUpperCaseNamesOnly) {
    DORNA_REQUIRE_SANDBOX();
    SiteCopy site(
        "upper",
        "mv disks DISKS && for p in pkg_tar.*; do "
        "mv \"$p\" \"PKG_TAR.${p#pkg_tar.}\"; done && "
        "for p in PKG_TAR.*; do mv \"$p\" \"PKG_TAR.$(echo ${p#PKG_TAR.} | tr a-z A-Z)\"; done");
    ASSERT_TRUE(site.ok());
    Box box("setup-upper", site.dir());
    e2e::Result r = box.Run({"/tmp/site/setup"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectInstalledAt(box, kApp);
}

TEST(SetupRun, MissingDisksOrSizeFileStopsWithStatusOne) {
    DORNA_REQUIRE_SANDBOX();
    SiteCopy noDisks("no-disks", "rm disks");
    SiteCopy noTsize("no-tsize", "rm tsize");
    ASSERT_TRUE(noDisks.ok() && noTsize.ok());

    Box a("setup-no-disks", noDisks.dir());
    e2e::Result r = a.Run({"/tmp/site/setup"}, "y\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "ERROR: can't open file, DornaInstall/disks\n")) << r.err;
    EXPECT_FALSE(a.Changed("/usr/Dorna"));

    Box b("setup-no-tsize", noTsize.dir());
    r = b.Run({"/tmp/site/setup"}, "y\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        Contains(r.out, "Could not determine how much space needed for install, missing isize.\n"));
    EXPECT_TRUE(b.Changes().empty());
}

TEST(SetupRun, NotEnoughRoomNamesThePlaceAndTheAmount) {
    DORNA_REQUIRE_SANDBOX();
    const double needI = SiteSize("isize") + 40, needT = SiteSize("tsize") + 40;
    Box box("setup-room");
    box.AllowMounts(); // the test mounts a small file system
    struct Case {
        std::string script;
        std::string message;
    } cases[] = {
        // A small work area of its own.
        {"mkdir /tmp/small && mount -t tmpfs -o size=64k tmpfs /tmp/small && /tmp/site/setup "
         "/tmp/small",
         "There isn't enough space in /tmp/small/DornaInstall to perform the installation "
         "activities. "
         "The temporary work area should be at least " +
             Amount(needT) + " bytes."},
        // A small install root of its own.
        {"mkdir /tmp/w /tmp/r && mount -t tmpfs -o size=64k tmpfs /tmp/r && /tmp/site/setup /tmp/w "
         "/tmp/r",
         "There isn't enough space in /tmp/r to perform the installation activities. "
         "The install area should be at least " +
             Amount(needI) + " bytes."},
        // Both on one small file system.
        {"mkdir /tmp/s && mount -t tmpfs -o size=" +
             std::to_string(static_cast<int>(needI + needT) - 100) +
             "k tmpfs /tmp/s && mkdir /tmp/s/r && /tmp/site/setup /tmp/s/w /tmp/s/r",
         "As you are using a working directory, /tmp/s/w/DornaInstall on the same partition as the "
         "install "
         "directory you have selected, /tmp/s/r this install requires " +
             Amount(needI + needT) + " bytes free."},
        // A root that does not exist yet is measured where it will live.
        {"mkdir /tmp/w /tmp/r && mount -t tmpfs -o size=64k tmpfs /tmp/r && /tmp/site/setup /tmp/w "
         "/tmp/r/new/root",
         "There isn't enough space in /tmp/r/new/root to perform the installation activities."},
        // Next to nothing free: the minimum check.
        {"mkdir /tmp/w /tmp/r && mount -t tmpfs -o size=16k tmpfs /tmp/r && /tmp/site/setup /tmp/w "
         "/tmp/r",
         "There isn't enough space in /tmp/r to perform the installation activities: only"},
    };
    for (const Case &c : cases) {
        e2e::Result r = box.Sh(c.script + "; echo \"status=$?\"", "y\n");
        EXPECT_TRUE(Contains(r.out, c.message)) << c.script << "\n" << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "status=1")) << c.script << "\n" << r.out;
    }
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
}

TEST(SetupRun, ExistingApplicationDirectoryCountsAsRoom) {
    DORNA_REQUIRE_SANDBOX();
    const double needI = SiteSize("isize") + 40;
    Box box("setup-room-app");
    box.AllowMounts(); // the test mounts a small file system
    // A root whose free room alone is too small; the same amount of data in
    // an application directory that the installation replaces counts as room.
    const int size = static_cast<int>(needI) + 100, data = 200;
    for (const char *dir : {"other", "Dorna/dpxx"}) {
        e2e::Result r =
            box.Sh("mkdir -p /tmp/w /tmp/r && mount -t tmpfs -o size=" + std::to_string(size) +
                       "k tmpfs /tmp/r && mkdir -p /tmp/r/" + dir + " && head -c " +
                       std::to_string(data * 1024) + " /dev/zero > /tmp/r/" + dir +
                       "/data && /tmp/site/setup /tmp/w /tmp/r; echo \"copied=$(grep -c pkg_tar.aa "
                       "/tmp/setup.log)\"",
                   "y\n");
        const bool counted = std::string(dir) == "Dorna/dpxx";
        EXPECT_EQ(
            Contains(r.out, "The install area should be at least " + Amount(needI) + " bytes."),
            !counted)
            << dir << "\n"
            << r.out;
        EXPECT_TRUE(Contains(r.out, counted ? "copied=1\n" : "copied=0\n")) << dir << "\n" << r.out;
    }
}

TEST(SetupRun, OldDaemonQuestion) {
    DORNA_REQUIRE_SANDBOX();
    const std::string plant =
        "mkdir -p /usr/Dorna/dpxx /etc/rc2.d && touch /usr/Dorna/dpxx/DPrintD "
        "/etc/rc2.d/KDornaPrintD /etc/rc2.d/SDornaPrintD";
    {
        Box box("setup-daemon-yes");
        ASSERT_EQ(box.Sh(plant).status, 0);
        e2e::Result r = box.Run({"/tmp/site/setup"}, "y\nmaybe\n\nY\nyes\n");
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(
            r.out, "uses DPrintD\nprint daemon, you must delete all your Dorna print queues"));
        EXPECT_TRUE(
            Contains(r.out, "NOTE: DPrintD is located in <install directory>/Dorna/dpxx\n"));
        size_t asked = 0;
        for (size_t at = r.out.find("[yn] "); at != std::string::npos;
             at = r.out.find("[yn] ", at + 1))
            ++asked;
        EXPECT_EQ(asked, 4u) << r.out; // maybe, empty line and Y ask again
        EXPECT_EQ(box.Sh("ls /etc/rc2.d | grep DornaPrintD").out, "");
        ExpectInstalledAt(box, kApp);
    }
    // End of input is no answer: the run ends as a failure, touching nothing.
    for (const char *answer : {"n\n", "no\n", ""}) {
        Box box("setup-daemon-no");
        ASSERT_EQ(box.Sh(plant).status, 0);
        e2e::Result r = box.Run({"/tmp/site/setup"}, std::string("y\n") + answer);
        EXPECT_EQ(r.status, *answer ? 0 : 1) << answer;
        EXPECT_EQ(Contains(r.err, "ERROR: no answer: standard input ended at the question\n"),
                  *answer == 0)
            << answer << r.err;
        EXPECT_TRUE(Contains(r.out, "[yn] ")) << answer;
        EXPECT_EQ(box.Sh("ls /etc/rc2.d | grep DornaPrintD").out, "KDornaPrintD\nSDornaPrintD\n")
            << answer;
        EXPECT_EQ(box.Sh("ls /tmp/DornaInstall 2>&1").status, 2) << "the work directory goes";
        EXPECT_TRUE(box.ReadFile(kApp + "/.dp_cfg").empty()) << answer;
    }
}

TEST(SetupRun, DecompressionLogsToTheRunLogAndRunsTheSystemsGzip) {
    DORNA_REQUIRE_SANDBOX();
    SiteCopy site("renamed", "mv setup install-dorna");
    ASSERT_TRUE(site.ok());
    Box box("setup-decompress", site.dir());
    box.AllowMounts(); // the test mounts a small file system
    // Another user plants a link where a run named setup would log, and a
    // gzip of his own early on root's PATH; without uncompress the archive
    // goes through gzip.
    e2e::Result r = box.Sh(
        "setpriv --reuid=65534 --regid=65534 --clear-groups ln -s /etc/victim /tmp/setup.log && "
        "mkdir /tmp/evil && printf '#!/bin/sh\\ntouch /tmp/pwned\\nexit 1\\n' > /tmp/evil/gzip && "
        "chmod 755 /tmp/evil/gzip && rm -f /usr/bin/uncompress /bin/uncompress && "
        "PATH=/tmp/evil:$PATH /tmp/site/install-dorna; echo \"status=$?\"; "
        "ls /tmp/pwned /etc/victim 2>&1; cat /tmp/install-dorna.log",
        "y\n");
    EXPECT_TRUE(Contains(r.out, "status=0\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "ls: cannot access '/tmp/pwned'")) << r.out;
    EXPECT_TRUE(Contains(r.out, "ls: cannot access '/etc/victim'")) << r.out;
    EXPECT_FALSE(box.Changed("/etc/victim"));
    // gzip -v names the archive it replaced, in the run log of this name.
    EXPECT_TRUE(Contains(r.out, "DornaLinuxi386Dpxx.tar.Z:")) << r.out;
    ExpectInstalledAt(box, kApp);
}

// A shell line that mounts a tmpfs at root, of kib KiB as a shell expression
// in which $one is the size in bytes of the site's queue tool (the programs'
// size depends on the build), runs setup into it and prints its status.
static std::string SetupOnSmallRoot(const std::string &root, const std::string &kib) {
    return "one=$(cat /tmp/site/pkg_tar.* | gzip -dc | tar -tvf - pkg/dpqadmin | "
           "awk '{print $3}') && mkdir " +
           root + " && mount -t tmpfs -o size=$(( " + kib + " ))k tmpfs " + root +
           " && /tmp/site/setup /tmp " + root + "; echo \"status=$?\"";
}

TEST(SetupRun, FailedCopiesAreNamedAndEndTheRunWithStatusOne) {
    DORNA_REQUIRE_SANDBOX();
    // A site that asks for little room, and an install root with room for
    // two and a half of the suite's programs (their size depends on the
    // build), so the later copies fail for want of space, one of them half
    // written.
    SiteCopy site("small-isize", "echo 1 > isize");
    ASSERT_TRUE(site.ok());
    Box box("setup-full-disk", site.dir());
    box.AllowMounts(); // the test mounts a small file system
    e2e::Result r =
        box.Sh(SetupOnSmallRoot("/tmp/small", "one * 5 / 2 / 1024 + 40") +
                   "; cd /tmp/small/Dorna/dpxx && stat -c '%a %n' dpqadmin dprdpxxtty dsf",
               "y\n");
    EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "ERROR: the installation is incomplete; these steps failed"))
        << r.err;
    EXPECT_TRUE(Contains(r.err, ": c dsf (/tmp/small/Dorna/dpxx/dsf)\n")) << r.err;
    EXPECT_TRUE(Contains(r.err, ": c driver (/tmp/small/Dorna/dpxx/driver)\n")) << r.err;
    EXPECT_FALSE(Contains(r.err, ": c dpqadmin")) << r.err;
    // The programs that were copied whole are installed as always; the cut
    // one gets no mode of the list and never becomes set-user-ID.
    EXPECT_TRUE(Contains(r.out, "\n4755 dprdpxxtty\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\n755 dpqadmin\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "4755 dsf")) << r.out;
}

TEST(SetupRun, QueueToolWhoseCopyFailedIsNeverRun) {
    DORNA_REQUIRE_SANDBOX();
    // An install root that passes the room check (a site asking for 1 KiB)
    // but is a page short of the queue tool: its copy is cut, and the cut
    // file must not be started at the end of the run.
    SiteCopy site("tiny-isize", "echo 1 > isize");
    ASSERT_TRUE(site.ok());
    Box box("setup-cut-tool", site.dir());
    box.AllowMounts(); // the test mounts a small file system
    e2e::Result r = box.Sh(SetupOnSmallRoot("/tmp/tiny", "(one - 1) / 4096 * 4"), "y\n");
    EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, ": c dpqadmin (/tmp/tiny/Dorna/dpxx/dpqadmin)\n"))
        << r.out << r.err;
    for (const char *sign : {"Segmentation fault", "dpqadmin:", "Exec format error", "core dumped"})
        EXPECT_FALSE(Contains(r.err, sign)) << sign << "\n" << r.err;
}

TEST(SetupRun, PathsTooLongToBuildStopTheRunBeforeAnythingIsInstalled) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-long-root");
    // A root of 4090 characters: its scripts' paths would not fit.
    const std::string root = "/var/" + std::string(4090, 'r');
    e2e::Result r = box.Run({"/tmp/site/setup", "/tmp", root}, "y\n");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "ERROR: the install root is too long")) << r.err;
    EXPECT_TRUE(box.Changes().empty()) << "nothing is installed";

    // A root of about a thousand characters gets everything, scripts included.
    std::string fits = "/var";
    while (fits.size() < 1006)
        fits += "/" + std::string(std::min<size_t>(200, 1006 - fits.size() - 1), 'f');
    r = box.Run({"/tmp/site/setup", "/tmp", fits}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(Contains(r.err, "too long")) << r.err;
    ExpectInstalledAt(box, fits + "/Dorna/dpxx");
}

TEST(SetupRun, PackageWithoutItsListIsAFailure) {
    DORNA_REQUIRE_SANDBOX();
    // The same pieces, their archive without pkg.list.
    SiteCopy site(
        "no-list",
        "cat pkg_tar.* | gzip -dc > all.tar && tar --delete -f all.tar pkg/pkg.list && "
        "gzip -c all.tar > all && rm pkg_tar.* all.tar && split -n 3 all pkg_tar. && rm all");
    ASSERT_TRUE(site.ok());
    Box box("setup-no-list", site.dir());
    e2e::Result r = box.Sh("/tmp/site/setup; echo \"status=$?\"; ls /tmp", "y\n");
    EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "ERROR: can't open file, /tmp/DornaInstall/pkg/pkg.list\n"))
        << r.err;
    EXPECT_FALSE(Contains(r.out, "DornaInstall")) << "a failure exit takes the work directory away";
}

TEST(SetupRun, WorkAreaAnotherUserCanChangeIsRefusedBeforeTheAgreement) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-foreign-area");
    // The work area belongs to nobody, who would swap the work directory for
    // his own (disks, pieces, a package list naming x$(id>/tmp/pwned)) while
    // setup waits at the old-daemon question.
    e2e::Result r =
        box.Sh("mkdir -p /usr/Dorna/dpxx && touch /usr/Dorna/dpxx/DPrintD && "
               "mkdir /tmp/bob && chown nobody /tmp/bob && mkdir /tmp/open && "
               "chmod 777 /tmp/open && "
               "{ /tmp/site/setup /tmp/bob; echo \"bob=$?\"; /tmp/site/setup /tmp/open/w; "
               "echo \"open=$?\"; ls /tmp/bob /tmp/pwned; } 2>&1",
               "y\nyes\ny\nyes\n");
    EXPECT_TRUE(Contains(r.out, "bob=2\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "open=2\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "ERROR: the work area /tmp/bob cannot be used: /tmp/bob is owned "
                                "by another user"))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "ERROR: the work area /tmp/open/w cannot be used: /tmp/open is "
                                "writable by other users"))
        << r.out;
    EXPECT_FALSE(Contains(r.out, kEnglishQuestion)) << "refused before the agreement: " << r.out;
    EXPECT_TRUE(Contains(r.out, "ls: cannot access '/tmp/pwned'")) << r.out;
    EXPECT_FALSE(Contains(r.out, "DornaInstall")) << "nothing was made there: " << r.out;
}

// The install root is checked as the work area is: another user who owns it,
// or a directory above or below it on the way to the application directory,
// could put a link where root copies a program and makes it set-user-ID.
TEST(SetupRun, InstallRootAnotherUserCanChangeIsRefusedBeforeTheAgreement) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-foreign-root");
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    struct Case {
        const char *name;
        std::string prepare; // run as root first
        std::string args;    // of setup
        std::string refusal; // the directory named and why
    } cases[] = {
        {"nobody's root with a link where dsf is copied",
         nobody + "sh -c 'mkdir -p /tmp/nbroot/Dorna/dpxx && "
                  "ln -s /usr/bin/victimfind /tmp/nbroot/Dorna/dpxx/dsf'",
         "install /tmp/nbroot", "install root /tmp/nbroot cannot be used: /tmp/nbroot is owned"},
        {"the same root in the second position", nobody + "mkdir /tmp/nbroot", "/tmp/w /tmp/nbroot",
         "install root /tmp/nbroot cannot be used: /tmp/nbroot is owned"},
        {"nobody's Dorna below root's root, which nobody could rename away",
         "mkdir -m 755 /tmp/r1 && mkdir /tmp/r1/Dorna && chown 65534 /tmp/r1/Dorna",
         "install /tmp/r1", "install root /tmp/r1 cannot be used: /tmp/r1/Dorna is owned"},
        {"nobody's dpxx", "mkdir -p -m 755 /tmp/r2/Dorna/dpxx && chown 65534 /tmp/r2/Dorna/dpxx",
         "install /tmp/r2/Dorna/dpxx",
         "install root /tmp/r2 cannot be used: /tmp/r2/Dorna/dpxx is owned"},
        {"a root below a directory everybody may write",
         "mkdir -m 777 /tmp/open && chmod 777 /tmp/open && mkdir /tmp/open/r",
         "install /tmp/open/r", "install root /tmp/open/r cannot be used: /tmp/open is writable"},
    };
    for (const Case &c : cases) {
        std::string script =
            "cp /usr/bin/find /usr/bin/victimfind && chmod 755 /usr/bin/victimfind";
        if (!c.prepare.empty()) script += " && " + c.prepare;
        script += "; /tmp/site/setup " + c.args +
                  " 2>&1; echo \"status=$?\"; stat -c %a /usr/bin/victimfind;"
                  " cmp /usr/bin/find /usr/bin/victimfind && echo same";
        e2e::Result r = box.Sh(script, "y\nyes\n");
        EXPECT_TRUE(Contains(r.out, "ERROR: the " + c.refusal)) << c.name << "\n" << r.out;
        EXPECT_TRUE(Contains(r.out, "status=2\n755\nsame\n")) << c.name << "\n" << r.out;
        EXPECT_FALSE(Contains(r.out, kEnglishQuestion))
            << c.name << ": refused before the agreement";
    }
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
    EXPECT_FALSE(box.Changed("/var/spool/Dorna"));
}

// The race of the second reproduction: while setup installs into a root of
// nobody's, nobody renames Dorna away once dsf is copied and puts a link to
// another copy of find in its place. The root is refused first, and the
// copy of find never becomes set-user-ID root.
TEST(SetupRun, InstallRootSwappedDuringTheRunNeverGetsASetUserIdProgram) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-root-race");
    e2e::Result r = box.Sh(
        "cp /usr/bin/find /usr/bin/victimfind2 && mkdir -m 755 /tmp/nbroot && "
        "chown 65534 /tmp/nbroot; "
        "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '"
        "i=0; while [ $i -lt 300 ]; do i=$((i+1)); "
        "if [ -e /tmp/nbroot/Dorna/dpxx/dsf ] && [ ! -L /tmp/nbroot/Dorna/dpxx/dsf ]; then "
        "mv /tmp/nbroot/Dorna /tmp/nbroot/away && mkdir -p /tmp/nbroot/Dorna/dpxx && "
        "ln -s /usr/bin/victimfind2 /tmp/nbroot/Dorna/dpxx/dsf && exit 0; fi; sleep 0.05; "
        "done' & "
        "/tmp/site/setup install /tmp/nbroot > /tmp/out 2>&1; echo \"status=$?\"; wait; "
        "stat -c %a /usr/bin/victimfind2; "
        "setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/victimfind2 /etc/hostname "
        "-exec id \\;",
        "y\nyes\n");
    EXPECT_TRUE(Contains(r.out, "status=2\n755\nuid=65534")) << r.out << r.err;
    EXPECT_FALSE(Contains(r.out, "euid=0")) << r.out;
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
}

// dsf and dprdpxxtty are installed set-user-ID root: what their caller puts
// in the environment steers nothing, and they make no directory.
TEST(SetupRun, SetUserIdProgramsIgnoreTheCallersEnvironment) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-suid-env");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    for (const char *program : {"dsf", "dprdpxxtty"}) {
        const std::string p = std::string(kApp) + "/" + program;
        e2e::Result r = box.Sh(
            "cp /etc/profile /var/tmp/profile.before; "
            "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '"
            "mkdir /tmp/nb && ln -s /etc/profile /tmp/nb/" + std::string(program) + ".log && "
            "DORNA_CALL_LOG_DIR=/tmp/nb " + p + " \";touch /tmp/ROOTED;\" </dev/null; "
            "DORNA_CALL_LOG_DIR=/etc/nobody-made/x " + p + " x </dev/null; "
            "DORNA_FAIL_TIMES=5 " + p + " y </dev/null; echo \"fail=$?\"'; "
            "cmp /etc/profile /var/tmp/profile.before && echo profile-kept; "
            "ls -d /etc/nobody-made 2>&1; ls /tmp/ROOTED 2>&1; "
            "grep -c '^uid 65534 0$' /var/spool/Dorna/calls/" + std::string(program) + ".log");
        EXPECT_TRUE(Contains(r.out, "fail=0\n")) << program << "\n" << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "profile-kept\n")) << program << "\n" << r.out;
        EXPECT_TRUE(Contains(r.out, "cannot access '/etc/nobody-made'")) << program << r.out;
        EXPECT_TRUE(Contains(r.out, "cannot access '/tmp/ROOTED'")) << program << r.out;
        // Each call was recorded where the suite keeps its records.
        EXPECT_TRUE(Contains(r.out, "\n3\n")) << program << "\n" << r.out;
        EXPECT_FALSE(box.Changed("/etc/profile")) << program;
        EXPECT_FALSE(box.Changed("/etc/nobody-made")) << program;
    }
}

// The run log holds every command root ran: only root reads or writes it.
// The spool's shared download folder is sticky, as /tmp is.
TEST(SetupRun, RunLogIsPrivateAndTheDownloadFolderSticky) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-log-mode");
    e2e::Result r = box.Sh("umask 000; /tmp/site/setup > /dev/null 2>&1; echo \"status=$?\"; "
                           "stat -c '%a %U' /tmp/setup.log /var/spool/Dorna/dpxx/__dpa_download__",
                           "y\n");
    EXPECT_EQ(r.out, "status=0\n600 root\n1777 root\n") << r.err;
}

// A directory another user plants at the log's name, with something in it so
// that it cannot simply be removed, is named before the agreement.
TEST(SetupRun, ADirectoryPlantedAtTheLogsNameIsRefusedBeforeTheAgreement) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-log-dir");
    e2e::Result r = box.Sh("setpriv --reuid=65534 --regid=65534 --clear-groups "
                           "mkdir -p /tmp/setup.log/x && /tmp/site/setup 2>&1; "
                           "echo \"status=$?\"",
                           "y\n");
    EXPECT_TRUE(Contains(r.out, "ERROR: the run log /tmp/setup.log cannot be made: a directory "
                                "with contents stands at its name"))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "status=2\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, kEnglishQuestion)) << r.out;
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
    // An empty one is taken away and the run goes on.
    r = box.Sh("setpriv --reuid=65534 --regid=65534 --clear-groups mkdir /tmp/setup.log && "
               "/tmp/site/setup > /dev/null 2>&1; echo \"status=$?\"; stat -c %F /tmp/setup.log",
               "y\n");
    EXPECT_EQ(r.out, "status=0\nregular file\n") << r.err;
}

TEST(SetupRun, WorkAreaMadeByAnotherUserWhileTheAgreementWaitsIsRefused) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-area-race");
    // /tmp/new does not exist when setup starts; nobody makes it while the
    // agreement waits for its answer. What setup then finds is checked again.
    e2e::Result r = box.Sh(
        "mkfifo /tmp/in && { /tmp/site/setup /tmp/new/area < /tmp/in > /tmp/out 2>/tmp/err & } && "
        "exec 3>/tmp/in && i=0 && while ! grep -q 'Disagree (n)' /tmp/out && [ $i -lt 200 ]; do "
        "sleep 0.1; i=$((i+1)); done && "
        "setpriv --reuid=65534 --regid=65534 --clear-groups mkdir -m 755 /tmp/new && echo y >&3 && "
        "exec 3>&- && wait $! ; echo \"status=$?\"; cat /tmp/err; ls -A /tmp/new");
    EXPECT_TRUE(Contains(r.out, "status=2\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "ERROR: the work area /tmp/new/area cannot be used: /tmp/new is "
                                "owned by another user"))
        << r.out;
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
}

TEST(SetupRun, GuardWaitsForARunningSuiteProgram) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-guard-wait");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    // dprint ends after 8 seconds: the second look, after 10, finds it gone.
    e2e::Result r =
        box.Sh("cp /bin/sleep /tmp/dprint && /tmp/dprint 8 & " + e2e::WaitForProcess("dprint") +
                   "; /tmp/site/setup; echo \"status=$?\"",
               "y\n1\n");
    EXPECT_TRUE(Contains(r.out, "status=0")) << r.out << r.err;
    EXPECT_TRUE(
        Contains(r.out, "The installer can not continue until these terminate:\ndprint ( "));
    EXPECT_TRUE(Contains(r.out, "1.  Wait 30 seconds for these processes to terminate\n"));
    EXPECT_EQ(r.out.find("Enter a selection:  "), r.out.rfind("Enter a selection:  "));
}

TEST(SetupRun, GuardQuitLeavesTheInstallationUntouched) {
    DORNA_REQUIRE_SANDBOX();
    for (const char *answer : {"2\n", ""}) {
        Box box("setup-guard-quit");
        ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
        ASSERT_EQ(box.Sh("rm /usr/Dorna/dpxx/.dp_cfg").status, 0);
        e2e::Result r = box.Sh("cp /bin/sleep /tmp/dprint && /tmp/dprint 600 & " +
                                   e2e::WaitForProcess("dprint") +
                                   "; /tmp/site/setup install /var/moved; echo \"status=$?\"",
                               std::string("y\n") + answer);
        // The user's own quit ends with 0; end of input is no choice of the
        // user's and ends with 1 and a message.
        EXPECT_TRUE(Contains(r.out, *answer ? "status=0" : "status=1")) << r.out << r.err;
        EXPECT_EQ(Contains(r.err, "ERROR: no answer: standard input ended at the question\n"),
                  *answer == 0)
            << r.err;
        EXPECT_TRUE(Contains(r.out, "2.  Quit the installation\n"));
        EXPECT_TRUE(box.ReadFile("/usr/Dorna/dpxx/.dp_cfg").empty()) << "answer " << answer;
        EXPECT_FALSE(box.Changed("/var/moved"));
    }
}

TEST(SetupRun, NonRootUserIsToldAndNothingIsInstalled) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-nonroot");
    e2e::Result r = box.Sh("setpriv --reuid=65534 --regid=65534 --clear-groups /tmp/site/setup; "
                           "echo \"status=$?\"; ls -a /tmp",
                           "y\n");
    EXPECT_TRUE(Contains(r.out, "nobody is logged in\nYou must become root to run setup\n"))
        << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "status=1")) << r.out;
    EXPECT_FALSE(Contains(r.out, "DornaInstall")) << "clean-up ran: " << r.out;
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
}

TEST(SetupRun, WorkDirectoryThatIsNotOursStopsBeforeTheCopy) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-foreign-workdir");
    box.AllowMounts(); // the test mounts a small file system
    // A mount point cannot be removed: the directory stays someone else's.
    e2e::Result r =
        box.Sh("mkdir -p /tmp/w/DornaInstall && mount -t tmpfs tmpfs /tmp/w/DornaInstall && "
               "chown 65534 /tmp/w/DornaInstall && /tmp/site/setup /tmp/w; echo \"status=$?\"; "
               "ls -A /tmp/w/DornaInstall",
               "y\n");
    EXPECT_TRUE(
        Contains(r.err, "ERROR: the work directory /tmp/w/DornaInstall is not a directory of this"))
        << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "pkg_tar")) << "nothing was copied";
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
}

TEST(SetupRun, UnsafeArgumentsNeverReachAShell) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-unsafe");
    e2e::Result r = box.Sh(
        "/tmp/site/setup '/tmp/x;touch /tmp/pwned'; echo \"status=$?\"; "
        "echo y | /tmp/site/setup /tmp 'install /opt$(touch /tmp/pwned)'; echo \"status=$?\"; "
        // The program's own name stands in every command's log redirection.
        "mkdir /tmp/p && cp /tmp/site/setup '/tmp/p/setup;touch pwned' && cd /tmp && "
        "echo y | '/tmp/p/setup;touch pwned' /proc/none; echo \"status=$?\"; "
        "ls /tmp",
        "y\n");
    size_t refused = 0;
    for (size_t at = r.out.find("status=2\n"); at != std::string::npos;
         at = r.out.find("status=2\n", at + 1))
        ++refused;
    EXPECT_EQ(refused, 3u) << r.out;
    EXPECT_FALSE(Contains(r.out, "pwned")) << r.out;
    EXPECT_TRUE(Contains(r.err, "ERROR: the work area \"/tmp/x;touch /tmp/pwned\""));
    EXPECT_TRUE(Contains(r.err, "ERROR: the program name \"setup;touch pwned\""));
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
}

TEST(SetupRun, QueueToolGetsItsWholeCommandLineUnderALongInstallRoot) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-long-root");
    // An install root of 1000 characters: "<root>/Dorna/dpxx/dpqadmin -upgrade"
    // is longer than 1023 characters.
    std::string root = "/var";
    while (root.size() < 1000)
        root += "/" + std::string(std::min<size_t>(200, 1000 - root.size() - 1), 'r');
    ASSERT_EQ(root.size(), 1000u);
    e2e::Result r = box.Run({"/tmp/site/setup", "install", root}, "y\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string app = root + "/Dorna/dpxx";
    std::vector<e2e::Call> calls = e2e::Calls(box.ReadFile("/var/spool/Dorna/calls/dpqadmin.log"));
    ASSERT_EQ(calls.size(), 2u) << r.out << r.err;
    EXPECT_EQ(calls[0].args.back(), "-upgrade");
    EXPECT_EQ(calls[1].args.back(), "-clean");
    EXPECT_TRUE(calls[0].args.front() == app + "/dpqadmin" &&
                calls[1].args.front() == app + "/dpqadmin");
}

TEST(SetupRun, ScriptsThatCannotBeWrittenAreFailedSteps) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-script-fails");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    // On an upgrade, a directory in the place of one generated file: the run
    // goes on, writes the others, names the one in its summary and ends 1.
    struct Case {
        const char *file;
        const char *step;
    };
    const Case cases[] = {
        {".dp_cfg", "print-system flags file"},
        {"DornaPrintdpxx", "queue interface script"},
        {"v4DriverScript", "driver interface script"},
        {"DornaDSF", "filter wrapper script"},
    };
    for (const Case &c : cases) {
        const std::string path = kApp + "/" + c.file;
        ASSERT_EQ(box.Sh("rm -f " + path + " && mkdir " + path).status, 0) << c.file;
        e2e::Result r = box.Sh("/tmp/site/setup; echo \"status=$?\"; cat /tmp/setup.log", "y\n");
        EXPECT_TRUE(Contains(r.out, "status=1\n")) << c.file << r.out << r.err;
        const std::string named = std::string("  ") + c.step + " (" + path + ")\n";
        EXPECT_TRUE(Contains(r.err, "ERROR: the installation is incomplete; these steps failed "
                                    "(the log says why):\n" +
                                        named))
            << c.file << r.err;
        EXPECT_TRUE(Contains(r.out, named)) << "the log names it too: " << r.out;
        for (const char *other : {"DornaPrintdpxx", "v4DriverScript", "DornaDSF"}) {
            if (strcmp(other, c.file) != 0) {
                EXPECT_EQ(box.Mode(kApp + "/" + other), 0755) << c.file << " " << other;
            }
        }
        ASSERT_EQ(box.Sh("rmdir " + path).status, 0) << c.file;
    }
    EXPECT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    ExpectInstalledAt(box, kApp);
}

TEST(SetupRun, ASecondSetupWhileOneRunsIsRefusedAndAKilledOneLeavesNoLock) {
    DORNA_REQUIRE_SANDBOX();
    Box box("setup-one-at-a-time");
    // The first run waits at the agreement with the lock held; the second
    // stops at once, naming it, and touches nothing (not even the log); once
    // the first is killed, the next run installs.
    e2e::Result r =
        box.Sh("mkfifo /tmp/in; "
               "/tmp/site/setup </tmp/in >/tmp/first.out 2>&1 & first=$!; "
               "exec 3>/tmp/in; "
               "for i in $(seq 100); do "
               "  [ \"$(cat /run/DornaSetup.lock 2>/dev/null)\" = \"$first\" ] && break; "
               "  sleep 0.1; "
               "done; "
               "echo \"first=$first\"; "
               "/tmp/site/setup </dev/null; echo \"second=$?\"; "
               "ls /tmp; "
               "kill -9 $first; wait $first; exec 3>&-; "
               "echo y | /tmp/site/setup >/dev/null; echo \"third=$?\"");
    std::string first;
    for (const std::string &line : e2e::Lines(r.out))
        if (line.rfind("first=", 0) == 0) first = line.substr(6);
    ASSERT_FALSE(first.empty()) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "second=1\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "ERROR: another setup is running (process ID " + first +
                                    "); this one stops before it changes anything\n"))
        << r.err;
    EXPECT_FALSE(Contains(r.out, "setup.log")) << "the second run started a log: " << r.out;
    EXPECT_TRUE(Contains(r.out, "third=0\n")) << r.out << r.err;
    ExpectInstalledAt(box, kApp);
}

TEST(SetupRun, AnInterruptedInstallationCleansUpAndEndsWithStatusOne) {
    DORNA_REQUIRE_SANDBOX();
    // tar, once it has unpacked, becomes a sleep that tells its process ID:
    // a command that is still running when the signal comes.
    const std::string slowTar =
        "mv /usr/bin/tar /usr/bin/tar.real && "
        "printf '#!/bin/sh\\n/usr/bin/tar.real \"$@\" || exit\\necho $$ >/tmp/slow\\n"
        "exec sleep 3\\n' >/usr/bin/tar && chmod 755 /usr/bin/tar; ";
    struct Case {
        const char *name;
        const char *signal;
        const char *target; // who gets it: the installer, or the running command
        const char *logged; // the signal the run names
    };
    const Case cases[] = {
        {"SIGINT to setup", "INT", "$s", "SIGINT"},
        {"SIGTERM to setup", "TERM", "$s", "SIGTERM"},
        {"SIGHUP to setup", "HUP", "$s", "SIGHUP"},
        {"SIGQUIT to setup", "QUIT", "$s", "SIGQUIT"},
        {"SIGINT to the command, as an interrupt at the terminal", "INT", "$(cat /tmp/slow)",
         "SIGINT"},
        {"SIGQUIT to the command", "QUIT", "$(cat /tmp/slow)", "SIGQUIT"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Box box(std::string("setup-interrupt-") + c.signal +
                (c.target[0] == '$' && c.target[1] == 's' ? "" : "-cmd"));
        e2e::Result r =
            box.Sh(slowTar + "printf 'y\\n' | /tmp/site/setup >/tmp/out 2>/tmp/err & s=$!; " +
                   "for i in $(seq 300); do [ -s /tmp/slow ] && break; sleep 0.1; done; " +
                   "kill -" + c.signal + " " + c.target + "; wait $s; echo \"status=$?\"; " +
                   "cat /tmp/err; echo; grep ERROR /tmp/setup.log; ls /tmp");
        EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "ERROR: the installation is incomplete; these steps failed "
                                    "(the log says why):\n  interrupted by " +
                                        std::string(c.logged) +
                                        ": the installation stopped there\n"))
            << r.out;
        EXPECT_TRUE(Contains(r.out, "ERROR: interrupted by " + std::string(c.logged) +
                                        "; the installation stops\n"))
            << "the log says so: " << r.out;
        EXPECT_FALSE(Contains(r.out, "DornaInstall")) << "the work directory stays: " << r.out;
        EXPECT_FALSE(box.Changed(kApp + "/dsf")) << "the run went on";
    }
}

// On a terminal the agreement is read a screenful at a time; 'q' goes
// straight to its question. Through a pipe (every other test here) it is
// printed whole.
TEST(SetupRun, TheAgreementIsPagedOnATerminal) {
    DORNA_REQUIRE_SANDBOX();
    if (e2e::RunHost({"sh", "-c", "command -v tmux"}).status != 0) {
        if (e2e::UnderCI()) FAIL() << "tmux is required under CI=true";
        GTEST_SKIP() << "tmux is not installed";
    }
    for (const char *key : {"q", "Space"}) {
        SCOPED_TRACE(key);
        Box box("setup-agreement-pager");
        e2e::Terminal term(box.CommandLine({"/tmp/site/setup"}), 80, 24);
        ASSERT_TRUE(term.WaitFor("--More--")) << term.Screen();
        std::string first = term.Screen();
        EXPECT_NE(first.find("SOFTWARE LICENCE AGREEMENT"), std::string::npos) << first;
        EXPECT_EQ(first.find("Agree (y) / Disagree (n)?"), std::string::npos) << first;
        for (int i = 0; i < 30 && term.Screen().find("Agree (y)") == std::string::npos; ++i) {
            term.Press(key);
            usleep(150 * 1000);
        }
        ASSERT_TRUE(term.WaitFor("Agree (y) / Disagree (n)?")) << term.Screen();
        term.Type("n");
        term.Press("Enter");
        EXPECT_TRUE(term.WaitFor("[exited 0]")) << term.Screen();
    }
}
