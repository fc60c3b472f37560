// The installer unattended (--accept-agreement, --wait, --stop-old-daemon,
// --report), run whole as root in the sandbox against the sample site.
#include <string>

#include "Sandbox.h"

using e2e::Contains;

namespace {

const std::string kSite = e2e::SiteDir();
const char *const kQuestion = "Agree (y) / Disagree (n)?";

struct Box : e2e::Sandbox {
    explicit Box(const std::string &name) : e2e::Sandbox(name) {
        BindRo(kSite, "/tmp/site");
        Unset("LANG");
    }
};

// A piece of sh that prints the report's fields, one "name=value" a line
// (lists joined by "|"), after checking that the file is one valid JSON
// object with every field: python's reader is the independent judge.
std::string ShowReport(const std::string &path) {
    return "python3 -c 'import json,sys\n"
           "d=json.load(open(sys.argv[1],encoding=\"utf-8\"))\n"
           "keys=[\"status\",\"version\",\"install_root\",\"app_dir\",\"print_system\","
           "\"previous_install\",\"moved_from\",\"failed_steps\",\"changed\",\"log\",\"seconds\"]\n"
           "assert sorted(d)==sorted(keys), sorted(d)\n"
           "for k in keys:\n"
           "  v=d[k]\n"
           "  print(k+\"=\"+(\"|\".join(v) if isinstance(v,list) else json.dumps(v)))\n"
           "' " +
           e2e::ShellQuote(path);
}

const std::string kSetup = "/tmp/site/setup --accept-agreement --report /var/lib/r.json";

} // namespace

TEST(Unattended, InstallsWithoutReadingStandardInputAndReports) {
    DORNA_REQUIRE_SANDBOX();
    Box box("unattended-fresh");
    // What is left on standard input after the run was never read by it.
    e2e::Result r = box.Sh(kSetup + "; echo \"status=$?\"; cat; " + ShowReport("/var/lib/r.json") +
                               "; grep 'accepted by' /tmp/setup.log",
                           "n\nleft unread\n");
    EXPECT_TRUE(Contains(r.out, "status=0\nn\nleft unread\n")) << r.out << r.err;
    EXPECT_FALSE(Contains(r.out, kQuestion));
    for (const char *field :
         {"status=0\n", "version=\"4.30.09\"\n", "install_root=\"/usr\"\n",
          "app_dir=\"/usr/Dorna/dpxx\"\n", "previous_install=null\n", "moved_from=null\n",
          "failed_steps=\n", "changed=true\n", "log=\"/tmp/setup.log\"\n",
          "the agreement (en_US) was accepted by --accept-agreement\n"})
        EXPECT_TRUE(Contains(r.out, field)) << field << "\n" << r.out;
    EXPECT_FALSE(Contains(r.out, "print_system=null")) << r.out;
    EXPECT_EQ(box.Mode("/usr/Dorna/dpxx/dsf"), 04755);

    // Standard input closed: the same, and the upgrade reports its root.
    r = box.Sh(kSetup + " <&-; echo \"status=$?\"; " + ShowReport("/var/lib/r.json"));
    EXPECT_TRUE(Contains(r.out, "status=0\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "previous_install=\"/usr\"\n")) << r.out;

    // A terminal on standard input that would wait for ever for an answer.
    e2e::Terminal term(e2e::ShellQuote(e2e::SandboxTool()) + " -r " + e2e::ShellQuote(kSite) +
                       ":/tmp/site " + box.Upper() + " " + kSetup);
    ASSERT_TRUE(term.Started());
    EXPECT_TRUE(term.WaitFor("[exited 0]", 60000)) << term.Screen();
    EXPECT_FALSE(Contains(term.Screen(), kQuestion));
}

TEST(Unattended, WaitBoundsTheProcessGuardAndNamesThePrograms) {
    DORNA_REQUIRE_SANDBOX();
    Box box("unattended-wait");
    ASSERT_EQ(box.Run({"/tmp/site/setup", "--accept-agreement"}).status, 0);
    const std::string dprint =
        "cp /bin/sleep /tmp/dprint && /tmp/dprint 600 & " + e2e::WaitForProcess("dprint") + "; ";
    struct Case {
        const char *name;
        std::string options;
        int status;
        double atLeast, atMost; // seconds the run takes
    } cases[] = {
        // The upper bounds leave room for a busy machine: the point is that
        // the wait ends, and not before its time.
        {"--wait 2 ends after two seconds", "--wait 2", 1, 1.9, 15},
        {"--wait 0 ends at once", "--wait=0", 1, 0, 10},
    };
    for (const Case &c : cases) {
        // The run's own time, measured inside the sandbox around setup alone.
        e2e::Result r =
            box.Sh(dprint +
                   "from=$(date +%s.%N); /tmp/site/setup --accept-agreement --report "
                   "/var/lib/r.json " +
                   c.options +
                   "; echo \"status=$?\"; "
                   "awk -v a=$from -v b=$(date +%s.%N) 'BEGIN { print \"took=\" b - a }'; " +
                   ShowReport("/var/lib/r.json"));
        size_t at = r.out.find("took=");
        ASSERT_NE(at, std::string::npos) << r.out;
        double took = std::stod(r.out.substr(at + 5));
        EXPECT_TRUE(Contains(r.out, "status=" + std::to_string(c.status) + "\n")) << c.name << "\n"
                                                                                  << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, "ERROR: programs of the suite still run after")) << c.name;
        EXPECT_TRUE(Contains(r.err, "dprint ( ")) << c.name << r.err;
        EXPECT_TRUE(Contains(r.out, "failed_steps=programs of the suite still run")) << r.out;
        EXPECT_TRUE(Contains(r.out, "changed=false\n")) << c.name << r.out;
        EXPECT_FALSE(Contains(r.out, "Enter a selection")) << c.name;
        EXPECT_GE(took, c.atLeast) << c.name;
        EXPECT_LE(took, c.atMost) << c.name;
    }
    // A program that ends within the wait lets the upgrade go on.
    e2e::Result r =
        box.Sh("cp /bin/sleep /tmp/dprint && /tmp/dprint 2 & " + e2e::WaitForProcess("dprint") +
               "; " + kSetup + " --wait 30; echo \"status=$?\"");
    EXPECT_TRUE(Contains(r.out, "Waiting up to 30 seconds")) << r.out;
    EXPECT_TRUE(Contains(r.out, "status=0\n")) << r.out << r.err;
}

TEST(Unattended, OldDaemonIsStoppedOnlyWhenAsked) {
    DORNA_REQUIRE_SANDBOX();
    Box box("unattended-daemon");
    ASSERT_EQ(box.Run({"/tmp/site/setup", "--accept-agreement"}).status, 0);
    const std::string plant = "touch /usr/Dorna/dpxx/DPrintD; ";
    e2e::Result r =
        box.Sh(plant + kSetup + "; echo \"status=$?\"; " + ShowReport("/var/lib/r.json"));
    EXPECT_TRUE(Contains(r.out, "status=1\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "DPrintD")) << r.err;
    EXPECT_TRUE(Contains(r.err, "--stop-old-daemon")) << r.err;
    EXPECT_TRUE(Contains(r.out, "failed_steps=the print daemon DPrintD")) << r.out;
    EXPECT_FALSE(Contains(r.out, "[yn]")) << r.out;

    r = box.Sh(plant + kSetup + " --stop-old-daemon; echo \"status=$?\"");
    EXPECT_TRUE(Contains(r.out, "status=0\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Stopping the old print daemon")) << r.out;
}

TEST(Unattended, ReportIsWrittenAtEveryExitAndHoldsAnyBytes) {
    DORNA_REQUIRE_SANDBOX();
    Box box("unattended-report");
    // A directory whose name holds a quote, a line end and a byte that is
    // not UTF-8; the report lies in it and names it in its refusal.
    const std::string odd = "/var/lib/q\"uote\nline\xff";
    struct Case {
        const char *name;
        std::string prepare, args;
        int status;
        const char *field; // a line the report shows
    } cases[] = {
        {"version", "", "-v", 0, "failed_steps=\n"},
        {"refused work area", "", "/tmp/a:b\\;c", 2, "failed_steps=the work area"},
        {"hostile install root", "", "/tmp " + e2e::ShellQuote(odd), 2, "may hold only letters"},
        {"no room",
         "rm -rf /var/site && cp -r /tmp/site /var/site && echo 999999999 > /var/site/isize; ", "",
         1, "There isn't enough space"},
    };
    for (const Case &c : cases) {
        const std::string program = c.prepare.empty() ? "/tmp/site/setup" : "/var/site/setup";
        const std::string report = odd + "/r.json";
        e2e::Result r = box.Sh("mkdir -p " + e2e::ShellQuote(odd) + "; " + c.prepare + program +
                               " --accept-agreement --report " + e2e::ShellQuote(report) + " " +
                               c.args + "; echo \"status=$?\"; " + ShowReport(report));
        EXPECT_TRUE(Contains(r.out, "status=" + std::to_string(c.status) +
                                        "\nstatus=" + std::to_string(c.status) + "\n"))
            << c.name << "\n"
            << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, c.field)) << c.name << "\n" << r.out;
        EXPECT_TRUE(Contains(r.out, "changed=false\n")) << c.name << "\n" << r.out;
    }
}

TEST(Unattended, UnsafeReportPathsAreRefusedBeforeAnythingRuns) {
    DORNA_REQUIRE_SANDBOX();
    Box box("unattended-refused");
    struct Case {
        const char *name;
        std::string prepare, report, why;
    } cases[] = {
        {"planted link", "mkdir -p /var/lib/d && ln -s /etc/passwd /var/lib/d/r.json",
         "/var/lib/d/r.json", "it is a symbolic link"},
        {"dangling link", "mkdir -p /var/lib/d && ln -sf /etc/new /var/lib/d/r2.json",
         "/var/lib/d/r2.json", "it is a symbolic link"},
        {"others may write", "mkdir -p /var/lib/w && chmod 777 /var/lib/w", "/var/lib/w/r.json",
         "its directory may be written by other users"},
        {"sticky /tmp", "true", "/tmp/r.json", "its directory may be written by other users"},
        {"owned by another user", "mkdir -p /var/lib/o && chown 65534 /var/lib/o",
         "/var/lib/o/r.json", "its directory may be written by other users"},
        {"missing directory", "true", "/var/lib/none/r.json", "its directory does not exist"},
        {"a directory", "mkdir -p /var/lib/dd", "/var/lib/dd", "it is not a plain file"},
    };
    for (const Case &c : cases) {
        e2e::Result r = box.Sh(c.prepare + "; /tmp/site/setup --accept-agreement --report " +
                               e2e::ShellQuote(c.report) +
                               "; echo \"status=$?\"; ls /tmp/setup.log 2>/dev/null; head -c 5 /etc/passwd; echo");
        EXPECT_TRUE(Contains(r.out, "status=2\nroot:\n")) << c.name << "\n" << r.out << r.err;
        EXPECT_TRUE(
            Contains(r.err, "ERROR: the report \"" + c.report + "\" cannot be used: " + c.why))
            << c.name << "\n"
            << r.err;
    }
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
    EXPECT_FALSE(box.Changed("/etc/passwd"));
}
