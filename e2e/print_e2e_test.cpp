// Real print paths: after a real `setup` run in the sandbox, the host's own
// print systems (CUPS's cupsd, LPRng's lpd) take jobs sent with their own
// clients (ipptool, lpr) and call the generated scripts, which hand the jobs
// to the suite's programs of the sample site. Those record every call, so a
// test sees exactly what a real print system made of a job.
//
// The daemons run inside the sandbox only, on a network of its own.
#include "Sandbox.h"

#include <string>
#include <vector>

namespace {

using e2e::Call;
using e2e::Contains;

const std::string kSite = e2e::SiteDir();
const std::string kApp = "/usr/Dorna/dpxx";
const std::string kCalls = "/var/spool/Dorna/calls/";

// A title that would be words, quotes, commands and options if a script
// let the shell at it.
const std::string kTitle = "Q3 \"draft\" $(id) -d other; `id`";

bool HasEnv(const Call &c, const std::string &nameValue) {
    for (const std::string &e : c.env)
        if (e == nameValue) return true;
    return false;
}

std::string EnvValue(const Call &c, const std::string &name) {
    for (const std::string &e : c.env)
        if (e.rfind(name + "=", 0) == 0) return e.substr(name.size() + 1);
    return "";
}

// A piece of sh that waits (up to 60 s) until the call log of a suite
// program holds `count` successful calls.
std::string WaitForCalls(const std::string &program, int count) {
    return "i=0; until [ \"$(cat " + kCalls + program +
           ".log 2>/dev/null | grep -c '^status 0$')\" -ge " + std::to_string(count) +
           " ] || [ $i -ge 600 ]; do sleep 0.1; i=$((i+1)); done";
}

// --- CUPS -------------------------------------------------------------------

// Starts cupsd in the foreground of a background job, and waits for its
// socket.
const char *const kStartCupsd = "mkdir -p /run/cups; cupsd -f & CUPSD=$!;"
                                " i=0; until [ -S /run/cups/cups.sock ] || [ $i -ge 100 ];"
                                " do sleep 0.1; i=$((i+1)); done\n";
const char *const kStopCupsd = "kill $CUPSD; wait $CUPSD\n";

// A queue whose PPD names `filter` as the filter of any data CUPS cannot
// type otherwise; its output goes to /dev/null.
std::string CupsQueue(const std::string &queue, const std::string &filter) {
    return "mkdir -p /etc/cups/ppd\n"
           "cat > /etc/cups/ppd/" +
           queue +
           ".ppd <<'EOF'\n"
           "*PPD-Adobe: \"4.3\"\n"
           "*FormatVersion: \"4.3\"\n"
           "*FileVersion: \"1.0\"\n"
           "*LanguageVersion: English\n"
           "*LanguageEncoding: ISOLatin1\n"
           "*PCFileName: \"DORNA.PPD\"\n"
           "*Manufacturer: \"Dorna\"\n"
           "*Product: \"(Dorna)\"\n"
           "*ModelName: \"Dorna queue\"\n"
           "*ShortNickName: \"Dorna queue\"\n"
           "*NickName: \"Dorna queue\"\n"
           "*PSVersion: \"(3010.000) 0\"\n"
           "*LanguageLevel: \"3\"\n"
           "*ColorDevice: False\n"
           "*DefaultColorSpace: Gray\n"
           "*FileSystem: False\n"
           "*Throughput: \"1\"\n"
           "*cupsFilter2: \"application/octet-stream application/vnd.cups-raw 0 " +
           filter +
           "\"\n"
           "*OpenUI *PageSize/Page Size: PickOne\n"
           "*DefaultPageSize: A4\n"
           "*PageSize A4/A4: \"\"\n"
           "*CloseUI: *PageSize\n"
           "EOF\n"
           "cat >> /etc/cups/printers.conf <<'EOF'\n"
           "<Printer " +
           queue +
           ">\n"
           "DeviceURI file:///dev/null\n"
           "State Idle\n"
           "Accepting Yes\n"
           "Shared No\n"
           "</Printer>\n"
           "EOF\n";
}

// Sends /var/tmp/job (data CUPS cannot type, so application/octet-stream)
// to a queue with ipptool, as user alice, with the title, two copies and two
// options, one of them holding a blank.
std::string IppPrint(const std::string &queue) {
    return "cat > /var/tmp/print.test <<'EOF'\n"
           "{\n"
           "  NAME \"print to " +
           queue +
           "\"\n"
           "  OPERATION Print-Job\n"
           "  GROUP operation-attributes-tag\n"
           "  ATTR charset attributes-charset utf-8\n"
           "  ATTR naturalLanguage attributes-natural-language en\n"
           "  ATTR uri printer-uri $uri\n"
           "  ATTR name requesting-user-name \"alice\"\n"
           "  ATTR name job-name \"$title\"\n"
           "  ATTR mimeMediaType document-format application/octet-stream\n"
           "  GROUP job-attributes-tag\n"
           "  ATTR integer copies 2\n"
           "  ATTR keyword sides one-sided\n"
           "  ATTR name dorna-tray \"upper tray\"\n"
           "  FILE $filename\n"
           "  STATUS successful-ok\n"
           "}\n"
           "EOF\n"
           "ipptool -d title=\"$TITLE\" -f /var/tmp/job ipp://localhost/printers/" +
           queue + " /var/tmp/print.test || echo ipptool failed\n";
}

// Installs with cupsd running (so the flags file says CUPS), then attaches
// the queues and starts cupsd again with them.
std::string CupsSetUp(const std::string &queues, const std::string &filesConf = "") {
    return std::string(kStartCupsd) +
           "printf 'y\\n' | /tmp/site/setup >/var/tmp/setup.out 2>&1 || { cat /var/tmp/setup.out; "
           "exit 9; }\n" +
           // The driver is no set-user-ID program: as user lp it records
           // its calls only where everyone may write.
           "chmod 1777 " + kCalls + "\n" + kStopCupsd + queues +
           "chmod 600 /etc/cups/printers.conf\n"
           "echo 'FileDevice Yes' >> /etc/cups/cups-files.conf\n" +
           filesConf + kStartCupsd + "printf '\\000\\001JOB\\377' > /var/tmp/job\n";
}

struct PrintBox : e2e::Sandbox {
    explicit PrintBox(const std::string &name) : e2e::Sandbox(name) {
        BindRo(kSite, "/tmp/site");
        Net();
        Unset("LANG");
        Env("TITLE=" + kTitle);
    }
};

} // namespace

TEST(CupsPrint, QueueInterfaceAndFilterWrapperGetTheJobAsCupsSendsIt) {
    DORNA_REQUIRE_SANDBOX();
    DORNA_REQUIRE_HOST_PROGRAM("/usr/sbin/cupsd");
    DORNA_REQUIRE_HOST_PROGRAM("/usr/bin/ipptool");
    PrintBox box("print-cups");
    e2e::Result r = box.Sh(
        CupsSetUp(CupsQueue("dq", kApp + "/DornaPrintdpxx") + CupsQueue("df", kApp + "/DornaDSF") +
                  CupsQueue("dd", kApp + "/v4DriverScript")) +
        IppPrint("dq") + IppPrint("df") + IppPrint("dd") + WaitForCalls("dprdpxxtty", 1) + "; " +
        WaitForCalls("dsf", 1) + "; " + WaitForCalls("driver", 1) + "\n" + kStopCupsd);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(Contains(r.out, "ipptool failed")) << r.out;
    EXPECT_EQ(box.ReadFile(kApp + "/.dp_cfg"), " CUPS ");

    // The queue interface: the tty print program gets the queue and the
    // spooled file, the job's texts in its variables, as user lp.
    std::vector<Call> tty = e2e::Calls(box.ReadFile(kCalls + "dprdpxxtty.log"));
    ASSERT_EQ(tty.size(), 1u) << r.out << box.ReadFile("/var/log/cups/error_log");
    ASSERT_EQ(tty[0].args.size(), 4u);
    EXPECT_EQ(tty[0].args[0], kApp + "/dprdpxxtty");
    EXPECT_EQ(tty[0].args[1], "-ddq");
    EXPECT_EQ(tty[0].args[2], "-i");
    EXPECT_EQ(tty[0].args[3].rfind("/var/spool/cups/d", 0), 0u) << tty[0].args[3];
    EXPECT_EQ(tty[0].cwd, kApp);
    EXPECT_EQ(tty[0].uid, "7 0") << "lp, and root through the set-user-ID bit";
    EXPECT_TRUE(HasEnv(tty[0], "DPrintPrinter=dq"));
    EXPECT_TRUE(HasEnv(tty[0], "DPrintUser_name=alice"));
    EXPECT_TRUE(HasEnv(tty[0], "DPrintTitle=" + kTitle));
    EXPECT_TRUE(HasEnv(tty[0], "DPrintCopies=2"));
    EXPECT_FALSE(EnvValue(tty[0], "DPrintRequest_id").empty());
    // CUPS escapes the blank of a value with a backslash (the log doubles it).
    const std::string options = EnvValue(tty[0], "DPrintOption_list");
    EXPECT_TRUE(Contains(options, "sides=one-sided")) << options;
    EXPECT_TRUE(Contains(options, "dorna-tray=upper\\\\ tray")) << options;

    // The filter wrapper: the filter gets the spooled file, once.
    std::vector<Call> dsf = e2e::Calls(box.ReadFile(kCalls + "dsf.log"));
    ASSERT_EQ(dsf.size(), 1u);
    ASSERT_EQ(dsf[0].args.size(), 2u);
    EXPECT_EQ(dsf[0].args[1].rfind("/var/spool/cups/d", 0), 0u);
    EXPECT_TRUE(HasEnv(dsf[0], "DPrintPrinter=df"));
    EXPECT_TRUE(HasEnv(dsf[0], "DPrintTitle=" + kTitle));
    EXPECT_TRUE(HasEnv(dsf[0], "DPrintCopies=2"));

    // The driver interface: every text one argument, every option after -o.
    std::vector<Call> driver = e2e::Calls(box.ReadFile(kCalls + "driver.log"));
    ASSERT_EQ(driver.size(), 1u);
    std::vector<std::string> args(driver[0].args.begin() + 1, driver[0].args.end());
    ASSERT_GE(args.size(), 10u);
    std::vector<std::string> head(args.begin(), args.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{"-ddd", "-oCopies=2", "-u", "alice", "-t",
                                              "Q3 draft $(id) -d other; `id`"}));
    std::vector<std::string> rest(args.begin() + 6, args.end());
    auto has = [&](const std::string &word) {
        for (size_t i = 0; i + 1 < rest.size(); ++i)
            if (rest[i] == "-o" && rest[i + 1] == word) return true;
        return false;
    };
    EXPECT_TRUE(has("sides=one-sided"));
    EXPECT_TRUE(has("dorna-tray=upper tray"));
    EXPECT_EQ(rest.back().rfind("/var/spool/cups/d", 0), 0u);
}

TEST(CupsPrint, AFilterThatFailsOnceIsRunAgainAndTheJobPrintedOnce) {
    DORNA_REQUIRE_SANDBOX();
    DORNA_REQUIRE_HOST_PROGRAM("/usr/sbin/cupsd");
    DORNA_REQUIRE_HOST_PROGRAM("/usr/bin/ipptool");
    PrintBox box("print-cups-retry");
    e2e::Result r =
        box.Sh(CupsSetUp(CupsQueue("df", kApp + "/DornaDSF"),
                         "echo 'SetEnv DORNA_FAIL_TIMES 1' >> /etc/cups/cups-files.conf\n"
                         // Set-user-ID, dsf would read no variable of its caller.
                         "chmod 755 " +
                             kApp + "/dsf\n") +
               IppPrint("df") + WaitForCalls("dsf", 1) + "\n" + kStopCupsd);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<Call> dsf = e2e::Calls(box.ReadFile(kCalls + "dsf.log"));
    ASSERT_EQ(dsf.size(), 2u) << box.ReadFile("/var/log/cups/error_log");
    EXPECT_EQ(dsf[0].status, "1");
    EXPECT_EQ(dsf[1].status, "0");
    EXPECT_EQ(dsf[0].args, dsf[1].args) << "the same job, run again";
}

// --- LPRng ------------------------------------------------------------------

// Queues of an LPRng printcap whose `if` filters are the generated scripts;
// lpd starts after a real setup run (which finds LPRng, no cupsd running).
std::string LprngSetUp(const std::string &extra = "") {
    return "printf 'y\\n' | /tmp/site/setup >/var/tmp/setup.out 2>&1 || { cat /var/tmp/setup.out; "
           "exit 9; }\n"
           "mkdir -p /run/lprng /var/spool/lpd/lq /var/spool/lpd/lf\n"
           "cat > /etc/printcap <<EOF\n"
           "lq:mc=10:lp=/dev/null:sd=/var/spool/lpd/lq:if=" +
           kApp + "/DornaPrintdpxx" + extra +
           "\n"
           "lf:mc=10:lp=/dev/null:sd=/var/spool/lpd/lf:if=" +
           kApp + "/DornaDSF" + extra +
           "\n"
           "EOF\n"
           "checkpc -f >/dev/null 2>&1\n"
           "lpd || exit 8\n"
           "i=0; until [ -S /run/lprng/socket ] || [ $i -ge 100 ]; do sleep 0.1; i=$((i+1)); done\n"
           "printf 'JOB DATA\\n' > /var/tmp/report.txt\n";
}

TEST(LprngPrint, QueueInterfaceAndFilterWrapperGetTheJobAsLpdSendsIt) {
    DORNA_REQUIRE_SANDBOX();
    DORNA_REQUIRE_HOST_PROGRAM("/usr/sbin/lpd");
    DORNA_REQUIRE_HOST_PROGRAM("/usr/bin/lpr");
    PrintBox box("print-lprng");
    e2e::Result r = box.Sh(
        LprngSetUp() +
        "lpr -Plq -J \"$TITLE\" -#2 -Zo1,'two words' /var/tmp/report.txt || echo lpr failed\n"
        "lpr -Plf -J \"$TITLE\" -Zo1 /var/tmp/report.txt || echo lpr failed\n" +
        WaitForCalls("dprdpxxtty", 2) + "; " + WaitForCalls("dsf", 1) +
        "; sleep 1; ls -A /var/spool/lpd/lf | grep '^lf[.]'; lpq -Plf; lpq -Plq");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(Contains(r.out, "lpr failed")) << r.out;
    EXPECT_EQ(box.ReadFile(kApp + "/.dp_cfg"), " LPRng ");

    // The queue interface: once per copy, the -Z options as -o options and
    // the spooled data file, as user daemon.
    std::vector<Call> tty = e2e::Calls(box.ReadFile(kCalls + "dprdpxxtty.log"));
    ASSERT_EQ(tty.size(), 2u) << r.out << r.err;
    for (const Call &c : tty) {
        ASSERT_EQ(c.args.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(c.args.begin() + 1, c.args.begin() + 5),
                  (std::vector<std::string>{"-dlq", "-f", "-oo1", "-otwo words"}));
        EXPECT_EQ(c.args[5].rfind("/var/spool/lpd/lq/dfA", 0), 0u) << c.args[5];
        EXPECT_EQ(c.cwd, kApp);
        EXPECT_TRUE(HasEnv(c, "DPrintQueue=lq"));
        EXPECT_TRUE(HasEnv(c, "DPrintUser=root"));
        EXPECT_TRUE(HasEnv(c, "SPOOL_DIR=/var/spool/lpd/lq"));
    }

    // The filter wrapper: the filter gets a copy of the job's data in the
    // spool directory, never the file the user named, and the copy is gone.
    std::vector<Call> dsf = e2e::Calls(box.ReadFile(kCalls + "dsf.log"));
    ASSERT_EQ(dsf.size(), 1u);
    ASSERT_EQ(dsf[0].args.size(), 2u);
    EXPECT_EQ(dsf[0].args[1].rfind("/var/spool/lpd/lf/lf.", 0), 0u) << dsf[0].args[1];
    EXPECT_TRUE(HasEnv(dsf[0], "DPrintPrinter=lf"));
    EXPECT_FALSE(Contains(r.out, "lf.")) << "the spooled copy is left:\n" << r.out;
}

TEST(LprngPrint, AFilterThatFailsOnceIsRunAgainAndTheJobPrintedOnce) {
    DORNA_REQUIRE_SANDBOX();
    DORNA_REQUIRE_HOST_PROGRAM("/usr/sbin/lpd");
    DORNA_REQUIRE_HOST_PROGRAM("/usr/bin/lpr");
    PrintBox box("print-lprng-retry");
    box.Env("DORNA_FAIL_TIMES=1");
    // lpd hands its filters only the variables its queue passes on.
    e2e::Result r =
        box.Sh(LprngSetUp(":pass_env=DORNA_FAIL_TIMES") +
               // Set-user-ID, dsf would read no variable of its caller; as
               // lpd's user it records its calls where everyone may write.
               "chmod 755 " + kApp + "/dsf && chmod 1777 " + kCalls + "\n" +
               "echo JOB | lpr -Plf -J retry || echo lpr failed\n" + WaitForCalls("dsf", 1) +
               "; sleep 1; ls -A /var/spool/lpd/lf | grep '^lf[.]'; exit 0");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<Call> dsf = e2e::Calls(box.ReadFile(kCalls + "dsf.log"));
    ASSERT_EQ(dsf.size(), 2u) << r.out;
    EXPECT_EQ(dsf[0].status, "1");
    EXPECT_EQ(dsf[1].status, "0");
    EXPECT_EQ(dsf[0].args, dsf[1].args) << "the same copy, run again";
    EXPECT_FALSE(Contains(r.out, "lf.")) << "the spooled copy is left:\n" << r.out;
}

// The reproduction of a title and user name that added options to the
// driver: each stays one argument.
TEST(PrintScripts, TitleAndUserNameNeverBecomeOptionsOfTheDriver) {
    DORNA_REQUIRE_SANDBOX();
    PrintBox box("print-driver-args");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    e2e::Result r =
        box.Sh("printf ' CUPS ' > " + kApp +
               "/.dp_cfg; echo JOB > /var/tmp/job;"
               " PRINTER=q1 " +
               kApp + "/v4DriverScript 7 'alice -d otherq' 'x /etc/shadow' 1 '' /var/tmp/job");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Call> driver = e2e::Calls(box.ReadFile(kCalls + "driver.log"));
    ASSERT_EQ(driver.size(), 1u);
    EXPECT_EQ(driver[0].args,
              (std::vector<std::string>{kApp + "/driver", "-dq1", "-oCopies=1", "-u",
                                        "alice -d otherq", "-t", "x /etc/shadow", "/var/tmp/job"}));
}
