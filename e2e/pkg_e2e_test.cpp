// The package side of a whole installation, run by the real `setup` on the
// sample site (or on a site made for one test) as root in the sandbox: the
// print-system flags under real print systems, the site layout of fresh
// installations and upgrades, the printconf link, the package list's
// behaviour, the generated scripts run as the print systems run them, and
// the Solaris package upgrade.
#include "Sandbox.h"

#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using e2e::Contains;
using e2e::Lines;

const std::string kSite = e2e::SiteDir();
const std::string kPrograms = DORNA_SITE_PROGRAMS;
const std::string kSiteSource = DORNA_SITE_SOURCE;
const std::string kSetup = DORNA_SETUP;
const std::string kSteps = DORNA_PKG_STEPS;
const std::string kApp = "/usr/Dorna/dpxx";

// The arguments (argv[0] left out) of every call a suite program recorded.
std::vector<std::vector<std::string>> CallArgs(const std::string &log) {
    std::vector<std::vector<std::string>> calls;
    for (const e2e::Call &c : e2e::Calls(log))
        calls.emplace_back(c.args.empty() ? c.args.end() : c.args.begin() + 1, c.args.end());
    return calls;
}

// The working directory of the last call a suite program recorded.
std::string LastCwd(const std::string &log) {
    std::vector<e2e::Call> calls = e2e::Calls(log);
    return calls.empty() ? "" : calls.back().cwd;
}

// Runs setup from the site bound at /tmp/site, after a shell prelude, with
// the agreement accepted and `answers` after it.
e2e::Result Install(e2e::Sandbox &box, const std::string &prelude = "",
                    const std::string &args = "", const std::string &answers = "") {
    return box.Sh(prelude + "\nprintf 'y\\n" + answers + "' | /tmp/site/setup " + args);
}

// Lays out a site of our own with the given package list; empty on failure.
std::string MakeSite(const std::string &name, const std::string &list) {
    std::string dir = std::string(e2e::ScratchDir()) + "/pkgsite-" + name;
    std::string listPath = dir + ".list";
    e2e::RunHost({"mkdir", "-p", e2e::ScratchDir()});
    e2e::Result w = e2e::RunHost({"sh", "-c", "cat > '" + listPath + "'"}, list);
    if (w.status != 0) return "";
    std::vector<std::string> argv{"sh", kSiteSource + "/make-site.sh",
                                  "-o", dir,
                                  "-l", listPath,
                                  "-s", kSiteSource + "/pkg/selinux/TLDPatchSELinuxPolicy",
                                  "-i", kSetup};
    for (const char *p : {"dpqadmin", "dprdpxxtty", "dsf", "driver", "AixInterface"})
        argv.push_back(kPrograms + "/" + p);
    e2e::Result r = e2e::RunHost(argv);
    return r.status == 0 ? dir : "";
}

} // namespace

namespace {

const std::string kPrintconf = "/usr/share/printconf/util/DornaPrintdpxx";

// What the printconf entry is after the installation.
enum class Printconf { NotLookedAt, LinkToTheApp, Missing, KeptAsItWas };

// A print system set up in the sandbox before setup runs, and what setup
// makes of it.
struct PrintSystemCase {
    std::string name;    // the instance's name
    std::string box;     // the sandbox's name
    const char *needs;   // a host program the prelude runs, or null
    bool net;            // a network of its own (cupsd listens on port 631: never on the host's)
    std::string prelude; // shell lines run before setup
    std::string flags;   // what the flags file holds afterwards
    Printconf printconf;
};

void PrintTo(const PrintSystemCase &c, std::ostream *os) {
    *os << c.name;
}

std::vector<PrintSystemCase> PrintSystems() {
    return {
        {"RunningCupsdGivesCupsEvenBesideLprng", "pkg-cups", "/usr/sbin/cupsd", true,
         "cupsd || exit 9; " + e2e::WaitForProcess("cupsd"), " CUPS ", Printconf::NotLookedAt},
        {"LprngLpdGivesLprngAndThePrintconfLink", "pkg-lprng", "/usr/sbin/lpd", false,
         "mkdir -p /usr/share/printconf/util", " LPRng ", Printconf::LinkToTheApp},
        {"ExistingPrintconfEntryIsLeftAlone", "pkg-printconf-kept", nullptr, false,
         "mkdir -p /usr/share/printconf/util; echo mine > " + kPrintconf, "",
         Printconf::KeptAsItWas},
        {"NoLpdGivesBsd", "pkg-no-lpd", nullptr, false,
         "rm -f /usr/sbin/lpd; mkdir -p /usr/share/printconf/util", " BSD ", Printconf::Missing},
        {"AnLpdThatIsNotLprngGivesBsd", "pkg-other-lpd", nullptr, false,
         "printf '#!/bin/sh\\necho \"lpd 2.1 (BSD spooler)\"\\n' > /usr/sbin/lpd;"
         " chmod 755 /usr/sbin/lpd",
         " BSD ", Printconf::NotLookedAt},
    };
}

class PkgPrintSystem : public ::testing::TestWithParam<PrintSystemCase> {};

} // namespace

TEST_P(PkgPrintSystem, FlagsAndPrintconfEntryFollowThePrintSystem) {
    DORNA_REQUIRE_SANDBOX();
    const PrintSystemCase &c = GetParam();
    if (c.needs) DORNA_REQUIRE_HOST_PROGRAM(c.needs);
    e2e::Sandbox box(c.box);
    box.BindRo(kSite, "/tmp/site");
    if (c.net) box.Net();
    e2e::Result r = Install(box, c.prelude);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    if (!c.flags.empty()) {
        EXPECT_EQ(box.ReadFile(kApp + "/.dp_cfg"), c.flags);
        EXPECT_EQ(box.Mode(kApp + "/.dp_cfg"), 0644);
    }
    switch (c.printconf) {
    case Printconf::NotLookedAt:
        break;
    case Printconf::LinkToTheApp:
        EXPECT_EQ(box.Sh("readlink " + kPrintconf).out, kApp + "/DornaPrintdpxx\n");
        break;
    case Printconf::Missing:
        EXPECT_FALSE(box.Changed(kPrintconf));
        break;
    case Printconf::KeptAsItWas:
        EXPECT_EQ(box.ReadFile(kPrintconf), "mine\n");
        EXPECT_EQ(box.Sh("test -L " + kPrintconf).status, 1);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(PrintSystems, PkgPrintSystem, ::testing::ValuesIn(PrintSystems()),
                         [](const ::testing::TestParamInfo<PrintSystemCase> &p) {
                             return p.param.name;
                         });

TEST(PkgLayout, FreshInstallationIntoUsrAndItsUpgrade) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("pkg-layout-usr");
    box.BindRo(kSite, "/tmp/site");
    e2e::Result r = Install(box);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    struct Want {
        std::string path;
        int mode;
    } want[] = {
        {kApp, 0755},
        {"/usr/Dorna", 0755},
        {kApp + "/.dp_cfg", 0644},
        {kApp + "/DornaPrintdpxx", 0755},
        {kApp + "/v4DriverScript", 0755},
        {kApp + "/DornaDSF", 0755},
        {"/var/spool/Dorna", 0775},
        {"/var/spool/Dorna/dpxx/__dpa_download__", 01777},
        {kApp + "/dprdpxxtty", 04755},
        {kApp + "/dsf", 04755},
    };
    for (const Want &w : want)
        EXPECT_EQ(box.Mode(w.path), w.mode) << w.path;
    EXPECT_EQ(box.Sh("test -d " + kApp + " && test ! -L " + kApp).status, 0);
    EXPECT_TRUE(
        Contains(box.ReadFile(kApp + "/DornaDSF"), "\nSpoolDir=\"/var/spool/Dorna/dpxx\"\n"));

    // The upgrade rewrites the flags file for the print system the host has now.
    r = Install(box, "rm -f /usr/sbin/lpd");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(box.ReadFile(kApp + "/.dp_cfg"), " BSD ");
    EXPECT_TRUE(
        Contains(box.ReadFile(kApp + "/DornaDSF"), "\nSpoolDir=\"/var/spool/Dorna/dpxx\"\n"));
    EXPECT_EQ(box.Mode(kApp + "/dprdpxxtty"), 04755);
}

TEST(PkgLayout, FreshInstallationIntoOptLinksTheWellKnownLocation) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("pkg-layout-opt");
    box.BindRo(kSite, "/tmp/site");
    box.Overlay("/opt");
    e2e::Result r = Install(box, "", "install /opt");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(box.Mode("/opt/Dorna/dpxx"), 0775);
    EXPECT_EQ(box.Mode("/opt/Dorna"), 0755);
    EXPECT_EQ(box.Mode("/usr/Dorna"), 0775);
    EXPECT_EQ(box.Sh("readlink /usr/Dorna/dpxx").out, "/opt/Dorna/dpxx\n");
    EXPECT_EQ(box.Mode("/opt/Dorna/dpxx/.dp_cfg"), 0644);
    EXPECT_EQ(box.Mode("/opt/Dorna/dpxx/dsf"), 04755);
    EXPECT_EQ(box.Mode("/opt/Dorna/dpxx/DornaPrintdpxx"), 0755);
    EXPECT_TRUE(Contains(box.ReadFile("/opt/Dorna/dpxx/DornaPrintdpxx"),
                         "\nToolPath=\"/opt/Dorna/dpxx\"\n"));
}

TEST(PkgListRun, SampleListUsesEveryDirectiveAndAttribute) {
    const std::string list = e2e::ReadHostFile(kSiteSource + "/pkg/pkg.list");
    std::vector<std::string> directives, keys;
    for (const std::string &line : Lines(list)) {
        std::istringstream in(line);
        std::string word;
        if (in >> word) directives.push_back(word);
        std::vector<std::string> words;
        while (in >> word)
            words.push_back(word);
        for (size_t i = 0; i < words.size(); ++i)
            keys.push_back(words[i]);
    }
    auto has = [](const std::vector<std::string> &v, const std::string &w) {
        for (const std::string &x : v)
            if (x == w) return true;
        return false;
    };
    for (const char *d : {"dir", "dirto", "t", "c", "m", "#", "v", "s", "newdir", "checkps"})
        EXPECT_TRUE(has(directives, d)) << "directive " << d;
    for (const char *k : {"mode", "bat", "owner", "group", "link", "name", "sed"})
        EXPECT_TRUE(has(keys, k)) << "attribute " << k;
}

TEST(PkgListRun, SampleListInstallsWhatItSays) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("pkg-sample-list");
    box.BindRo(kSite, "/tmp/site");
    e2e::Result r = Install(box);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // A launcher in /usr/bin that enters APP and runs the tty print program.
    std::string launcher = box.ReadFile("/usr/bin/dprintdpxx");
    EXPECT_TRUE(Contains(launcher, "\ncd " + kApp + "\nexec " + kApp + "/dprdpxxtty \"$@\"\n"))
        << launcher;
    EXPECT_EQ(box.Mode("/usr/bin/dprintdpxx"), 0755);
    e2e::Result run =
        box.Sh("mkdir -p /var/tmp/w && cd /var/tmp/w && dprintdpxx -x 'a b' </dev/null");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::string log = box.ReadFile("/var/spool/Dorna/calls/dprdpxxtty.log");
    ASSERT_FALSE(CallArgs(log).empty()) << log;
    EXPECT_EQ(CallArgs(log).back(), (std::vector<std::string>{"-x", "a b"}));
    EXPECT_EQ(LastCwd(log), kApp);
    // The rest of the sample list's work, as its lines say.
    EXPECT_EQ(box.Mode(kApp + "/db"), 0775);
    EXPECT_EQ(box.Mode(kApp + "/db/que.xdb"), 0664);
    EXPECT_EQ(box.Mode(kApp + "/selinux/TLDPatchSELinuxPolicy"), 0755);
    EXPECT_EQ(box.Sh("readlink /usr/lib/dpxx").out, kApp + "/lib\n");
    EXPECT_TRUE(box.Changed(kApp + "/lib/selinux/TLDPatchSELinuxPolicy"));
    EXPECT_EQ(box.ReadFile(kApp + "/etc/dpxx.files"),
              "dpqadmin\ndprdpxxtty\ndsf\ndriver\nAixInterface\n");
    EXPECT_TRUE(box.Changed(kApp + "/README"));
    EXPECT_FALSE(box.Changed(kApp + "/README.txt")) << "renamed";
    EXPECT_FALSE(box.Changed(kApp + "/pkg.list")) << "renamed";
    EXPECT_FALSE(box.Changed(kApp + "/etc/kernel24"));

    // An upgrade runs the same list again to its end.
    r = Install(box);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(box.ReadFile(kApp + "/etc/dpxx.files"),
              "dpqadmin\ndprdpxxtty\ndsf\ndriver\nAixInterface\n");
}

TEST(PkgListRun, FailingCopyWarnsFailingModeStopsWithStatusOne) {
    DORNA_REQUIRE_SANDBOX();
    std::string site = MakeSite("failures", "c nosuchfile\n"
                                            "c dpqadmin mode 755\n"
                                            "c dsf mode 9x9\n"
                                            "c driver\n");
    ASSERT_FALSE(site.empty());
    e2e::Sandbox box("pkg-failures");
    box.BindRo(site, "/tmp/site");
    e2e::Result r = Install(box, "", "", "");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "ERROR: ")) << r.out;
    EXPECT_EQ(box.Mode(kApp + "/dpqadmin"), 0755) << "the list went on after the failed copy";
    EXPECT_FALSE(box.Changed(kApp + "/driver")) << "the list stopped at the failed mode";
}

TEST(PkgListRun, ShellCharactersOfTheListNeverActAsRoot) {
    DORNA_REQUIRE_SANDBOX();
    // Each line would create a file under /tmp or in root's home if a shell
    // read its words; the failing mode is followed by what would have been a
    // succeeding touch. A launcher name that climbs out of /usr/bin stops
    // the list before anything is written.
    const std::string lists[] = {"c x$(touch\t/tmp/a)\n"
                                 "c y`touch\t/tmp/b`\n"
                                 "c z;touch\t/tmp/c\n"
                                 "t $HOME\n"
                                 "c dsf mode 755;touch\t/tmp/d\n",
                                 "c dpqadmin bat ../../tmp/e\n"};
    for (const std::string &list : lists) {
        std::string site = MakeSite("shell-words-" + std::to_string(&list - lists), list);
        ASSERT_FALSE(site.empty());
        e2e::Sandbox box("pkg-shell-words");
        box.BindRo(site, "/tmp/site");
        e2e::Result r = box.Sh("printf 'y\\n' | HOME=/var/roothome /tmp/site/setup; "
                               "echo \"status=$?\"; ls -d /tmp/a /tmp/b /tmp/c /tmp/d /tmp/e "
                               "/var/roothome 2>&1");
        EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out << r.err;
        for (const char *made : {"/tmp/a", "/tmp/b", "/tmp/c", "/tmp/d", "/tmp/e", "/var/roothome"})
            EXPECT_TRUE(Contains(r.out, std::string("ls: cannot access '") + made + "'"))
                << made << r.out;
        if (&list == lists) {
            EXPECT_TRUE(box.Changed(kApp + "/$HOME")) << "the name is taken as it stands";
            EXPECT_TRUE(Contains(r.out, "ERROR: ")) << r.out;
        } else {
            EXPECT_TRUE(
                Contains(r.out, "the launcher name \"../../tmp/e\" is not a plain file name"))
                << r.out;
        }
    }
}

TEST(PkgListRun, WordsLinesAndNulsTheReaderCannotTakeStopTheRun) {
    DORNA_REQUIRE_SANDBOX();
    const std::string longWord(255, 'w');
    std::string continued = "c dsf mode 700";
    continued.resize(510, ' ');
    continued.back() = '\\';
    struct Case {
        const char *name;
        std::string list;
        int status;
        const char *message;
    } cases[] = {
        {"long-word", "c dpqadmin\nt " + longWord + " mode 600\n", 1,
         "ERROR: pkg.list line 2: the word \"wwww"},
        {"nul", std::string("c dpqadmin\nc dsf\0 mode 700\n", 28), 1,
         "ERROR: pkg.list line 2 holds a NUL character"},
        {"joined", "c dpqadmin\n" + continued + "\nowner root\n", 0, ""},
    };
    for (const Case &c : cases) {
        std::string site = MakeSite(std::string("reader-") + c.name, c.list);
        ASSERT_FALSE(site.empty()) << c.name;
        e2e::Sandbox box(std::string("pkg-reader-") + c.name);
        box.BindRo(site, "/tmp/site");
        e2e::Result r = Install(box);
        EXPECT_EQ(r.status, c.status) << c.name << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, c.message)) << c.name << r.out;
        EXPECT_FALSE(box.Changed(kApp + "/" + longWord.substr(0, 254))) << c.name;
        EXPECT_FALSE(box.Changed(kApp + "/owner")) << c.name << ": a continuation is no line";
    }
}

TEST(PkgListRun, AFatalFailureNamesItsCommandAndTakesTheWorkDirectoryAway) {
    DORNA_REQUIRE_SANDBOX();
    std::string site = MakeSite("fatal", "c dsf mode 9x9\nc driver\n");
    ASSERT_FALSE(site.empty());
    e2e::Sandbox box("pkg-fatal");
    box.BindRo(site, "/tmp/site");
    e2e::Result r =
        box.Sh("printf 'y\\n' | /tmp/site/setup /tmp/w; echo \"status=$?\"; ls -A /tmp/w; "
               "echo listed");
    EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "/chmod  9x9 " + kApp + "/dsf: exit status 1\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "status=1\nlisted\n")) << "the work area is left empty: " << r.out;
}

TEST(PkgListRun, CheckpsQuitStopsTheListAndCleansUp) {
    DORNA_REQUIRE_SANDBOX();
    std::string site = MakeSite("checkps", "c dpqadmin mode 755\n"
                                           "checkps ,dprint,\n"
                                           "c driver\n");
    ASSERT_FALSE(site.empty());
    e2e::Sandbox box("pkg-checkps");
    box.BindRo(site, "/tmp/site");
    e2e::Result r = Install(box,
                            "cp /bin/sleep /tmp/dprint && (cd /tmp && exec ./dprint 60) & " +
                                e2e::WaitForProcess("dprint"),
                            "", "2\\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "dprint ( ")) << r.out;
    EXPECT_TRUE(box.Changed(kApp + "/dpqadmin"));
    EXPECT_FALSE(box.Changed(kApp + "/driver")) << "the list stopped at the guard";
    // Clean-up still ran: the queue tool was called.
    EXPECT_EQ(CallArgs(box.ReadFile("/var/spool/Dorna/calls/dpqadmin.log")).size(), 2u);
}

TEST(PkgScripts, GeneratedScriptsHandTheJobToTheSuitePrograms) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("pkg-scripts-run");
    box.BindRo(kSite, "/tmp/site");
    ASSERT_EQ(Install(box).status, 0);
    const std::string calls = "/var/spool/Dorna/calls/";

    // LPRng: -Z options become -o options, -e names files in the spool directory.
    e2e::Result r = box.Sh("printf ' LPRng ' > " + kApp + "/.dp_cfg; cd /var/tmp && " + kApp +
                           "/DornaPrintdpxx -Plp -d/var/spool/lpd/lp -edfA1,dfA2 -Zo1,o2 -nbob"
                           " -hhost </dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string tty = box.ReadFile(calls + "dprdpxxtty.log");
    ASSERT_FALSE(CallArgs(tty).empty()) << tty;
    EXPECT_EQ(CallArgs(tty).back(),
              (std::vector<std::string>{"-dlp", "-f", "-oo1", "-oo2", "/var/spool/lpd/lp/dfA1",
                                        "/var/spool/lpd/lp/dfA2"}));
    EXPECT_EQ(LastCwd(tty), kApp);

    // System V: the queue is the script's name, the title loses its ### tail.
    r = box.Sh(
        "printf '' > " + kApp + "/.dp_cfg; cp " + kApp +
        "/DornaPrintdpxx /var/tmp/q5; /var/tmp/q5 17 carol 'Report###x' 2 'a b' /etc/hostname"
        " </dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    tty = box.ReadFile(calls + "dprdpxxtty.log");
    EXPECT_EQ(CallArgs(tty).back(), (std::vector<std::string>{"-dq5", "-i", "/etc/hostname"}));
    EXPECT_TRUE(Contains(tty, "env DPrintTitle=Report\n")) << tty;

    // CUPS: the driver gets its option list.
    r = box.Sh("printf ' CUPS ' > " + kApp + "/.dp_cfg; PRINTER=cq " + kApp +
               "/v4DriverScript 9 dave title 1 'a=1 b=2' /etc/hostname </dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string driver = box.ReadFile(calls + "driver.log");
    ASSERT_FALSE(CallArgs(driver).empty()) << driver;
    EXPECT_EQ(CallArgs(driver).back(),
              (std::vector<std::string>{"-dcq", "-oCopies=1", "-u", "dave", "-t", "title", "-o",
                                        "a=1", "-o", "b=2", "/etc/hostname"}));

    // BSD filter: the job on standard input goes to a spool file, which the
    // filter gets and which is removed afterwards.
    r = box.Sh("printf ' BSD ' > " + kApp +
               "/.dp_cfg; mkdir -p /var/spool/Dorna/dpxx/lp1"
               " /var/spool/lpd/lp1; cd /var/spool/lpd/lp1 && echo JOB | " +
               kApp + "/DornaDSF -w80; ls -A /var/spool/Dorna/dpxx/lp1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "") << "the spool copy is removed";
    std::string dsf = box.ReadFile(calls + "dsf.log");
    ASSERT_FALSE(CallArgs(dsf).empty()) << dsf;
    ASSERT_EQ(CallArgs(dsf).back().size(), 1u);
    EXPECT_EQ(CallArgs(dsf).back()[0].rfind("/var/spool/Dorna/dpxx/lp1/lp1.", 0), 0u);
}

TEST(PkgSolaris, UpgradeRegistersCopiesAndRaisesTheVersion) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("pkg-solaris");
    box.BindRo(kSteps, "/tmp/pkg_steps");
    const std::string prelude =
        "set -e\n"
        "printf '#!/bin/sh\\necho \"$*\" >> /var/tmp/installf.log\\n' > /usr/sbin/installf\n"
        "chmod 755 /usr/sbin/installf\n"
        "W=/var/tmp/work; M=/var/tmp/map\n"
        "mkdir -p $W/TSLNdpxx/root/etc/init.d $W/TSLNdpxx/reloc/bin $M/TSLNdpxx"
        " /usr/Dorna/bin /var/sadm/pkg/TSLNdpxx\n"
        "echo NEWX > $W/TSLNdpxx/root/etc/init.d/dpx\n"
        "echo NEWTOOL > $W/TSLNdpxx/reloc/bin/tool\n"
        "printf ': 1 2048\\n1 d none bin 0755 root sys\\n"
        "1 f none bin/tool 4755 root sys 1234 5678 1000000000\\n"
        "1 f none /etc/init.d/dpx 0744 root sys 10 20 30\\n"
        "1 i pkginfo 100 200 300\\n1 f none short root\\n' > $M/TSLNdpxx/pkgmap\n"
        "printf 'PKG=TSLNdpxx\\nVERSION=4.10.00,REV=1\\nNAME=Dorna\\n'"
        " > /var/sadm/pkg/TSLNdpxx/pkginfo\n"
        "set +e\n";
    e2e::Result r = box.Sh(prelude + "/tmp/pkg_steps solaris TSLNdpxx $M $W /usr");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // Progress dots: mkdir and chmod of lib, 14 module directories, one per
    // replaced file, rm of pkginfo.tmp, the pkginfo edit, the mv.
    EXPECT_EQ(r.out, std::string(16 + 2 + 3, '.') + "\n1\n");
    EXPECT_EQ(box.ReadFile("/var/tmp/installf.log"),
              "-c none TSLNdpxx /usr/Dorna/bin/tool f 4755 root sys\n"
              "-c none TSLNdpxx /etc/init.d/dpx f 0744 root sys\n"
              "-f TSLNdpxx\n");
    EXPECT_EQ(box.ReadFile("/usr/Dorna/bin/tool"), "NEWTOOL\n");
    EXPECT_EQ(box.ReadFile("/etc/init.d/dpx"), "NEWX\n");
    EXPECT_EQ(box.ReadFile("/var/sadm/pkg/TSLNdpxx/pkginfo"),
              "PKG=TSLNdpxx\nVERSION=4.30.09\nNAME=Dorna\n");
    EXPECT_FALSE(box.Changed("/var/sadm/pkg/TSLNdpxx/pkginfo.tmp"));
    EXPECT_EQ(box.Mode(kApp + "/lib"), 0755);
    for (const char *d : {"lib/gtk", "lib/gtk/modules/2.2.0/engines", "lib/gtk/modules/etc/pango",
                          "lib/gtk/modules/etc/gtk-2.0", "lib/gtk/modules/pango/1.2.0/modules"})
        EXPECT_TRUE(box.Changed(kApp + "/" + d)) << d;

    // A second run with APP/lib present makes no directory.
    r = box.Sh("M=/var/tmp/map W=/var/tmp/work; /tmp/pkg_steps solaris TSLNdpxx $M $W /usr"
               " >/dev/null; grep -c mkdir /tmp/pkg_steps.log");
    EXPECT_EQ(r.out, "0\n") << r.err;
}

TEST(PkgListRun, ExampleLinesThroughSetup) {
    DORNA_REQUIRE_SANDBOX();
    // The kernel release sorts after "10" as text (it starts with 2..9),
    // though 10 is the larger number.
    std::string site = MakeSite("examples", "dir selinux\n"
                                            "c dprdpxxtty mode 4755 owner root\n"
                                            "c selinux/TLDPatchSELinuxPolicy mode 700\n"
                                            "newdir db mode 777\n"
                                            "newdir db owner nobody\n"
                                            "v > 10 c dsf\n"
                                            "v = 0 c driver\n"
                                            "v >= 2.6 v < 99 c AixInterface\n"
                                            "c\tdpqadmin driver\n"
                                            "# c dpqadmin\n"
                                            "s nothing mode 600\n"
                                            "c pkg.list name .profile\n"
                                            "m .profile sed -e s/^c/C/ -e /^[^C]/d\n");
    ASSERT_FALSE(site.empty());
    e2e::Sandbox box("pkg-examples");
    box.BindRo(site, "/tmp/site");
    e2e::Result r = Install(box);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(box.Mode(kApp + "/dprdpxxtty"), 04755) << "set again at the end of the run";
    EXPECT_EQ(box.Mode(kApp + "/selinux/TLDPatchSELinuxPolicy"), 0700);
    EXPECT_EQ(box.Mode(kApp + "/TLDPatchSELinuxPolicy"), 0755) << "the copy itself";
    EXPECT_EQ(box.Mode(kApp + "/db"), 0777);
    EXPECT_EQ(box.Sh("stat -c %U " + kApp + "/db").out, "root\n");
    EXPECT_TRUE(box.Changed(kApp + "/dsf"));
    EXPECT_TRUE(box.Changed(kApp + "/AixInterface"));
    EXPECT_TRUE(box.Changed(kApp + "/driver")) << "c<TAB>dpqadmin copies its argument";
    EXPECT_FALSE(box.Changed(kApp + "/dpqadmin"));
    EXPECT_FALSE(box.Changed(kApp + "/nothing"));
    std::string profile = box.ReadFile(kApp + "/.profile");
    EXPECT_TRUE(Contains(profile, "C dprdpxxtty mode 4755 owner root\n")) << profile;
    EXPECT_FALSE(Contains(profile, "newdir")) << profile;
}

TEST(PkgSolaris, ModuleDirectoriesLandUnderALongInstallRoot) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("pkg-solaris-long");
    box.BindRo(kSteps, "/tmp/pkg_steps");
    // "<root>/Dorna/dpxx/lib" is longer than 1023 characters.
    std::string root = "/var";
    while (root.size() < 1010)
        root += "/" + std::string(std::min<size_t>(200, 1010 - root.size() - 1), 's');
    const std::string app = root + "/Dorna/dpxx";
    // No package map: the step ends after the module directories.
    e2e::Result r = box.Sh("mkdir -p " + app +
                           " && /tmp/pkg_steps solaris TSLNdpxx /var/tmp/nomap"
                           " /var/tmp/work " +
                           root);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "ERROR: can't open file, /var/tmp/nomap/TSLNdpxx/pkgmap")) << r.err;
    EXPECT_TRUE(box.Changed(app + "/lib/gtk/modules/pango/1.2.0/modules"));
    EXPECT_FALSE(box.Changed(app + "/l")) << "a directory named by a cut path";
}
