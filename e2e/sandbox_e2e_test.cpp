// The sandbox itself: what it isolates, what it passes through, how it fails.
#include "Sandbox.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using e2e::Contains;

std::string Unique(const std::string &stem) {
    return stem + std::to_string(getpid());
}

TEST(Sandbox, WritesLandInTheUpperLayersAndTheHostStaysAsItWas) {
    DORNA_REQUIRE_SANDBOX();
    std::string passwd = e2e::ReadHostFile("/etc/passwd");
    ASSERT_FALSE(passwd.empty());
    ASSERT_EQ(access("/etc/group", F_OK), 0);
    e2e::Sandbox box("upper-layers");
    e2e::Result r = box.Sh("set -e; echo created > /usr/share/dorna-probe;"
                           " echo 'dorna:x:4242:4242::/:/bin/false' >> /etc/passwd;"
                           " rm /etc/group; mkdir -p /var/lib/dorna-probe");
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<std::string> want{"/etc/group (removed)",   "/etc/passwd", "/usr/share",
                                  "/usr/share/dorna-probe", "/var/lib",    "/var/lib/dorna-probe"};
    EXPECT_EQ(box.Changes(), want);
    EXPECT_EQ(box.ReadFile("/usr/share/dorna-probe"), "created\n");
    EXPECT_EQ(box.ReadFile("/etc/passwd"), passwd + "dorna:x:4242:4242::/:/bin/false\n");
    EXPECT_TRUE(box.Removed("/etc/group"));
    EXPECT_FALSE(box.Removed("/etc/passwd"));

    EXPECT_EQ(e2e::ReadHostFile("/etc/passwd"), passwd);
    EXPECT_EQ(access("/etc/group", F_OK), 0);
    EXPECT_NE(access("/usr/share/dorna-probe", F_OK), 0);
    EXPECT_NE(access("/var/lib/dorna-probe", F_OK), 0);
}

TEST(Sandbox, RunsShareTheirUpperLayersButNotTheirTmp) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("two-runs");
    box.Chdir("/"); // from a working directory under /tmp, that directory would show
    ASSERT_EQ(box.Sh("echo kept > /var/lib/dorna-kept; echo lost > /tmp/lost").status, 0);
    e2e::Result r = box.Sh("cat /var/lib/dorna-kept; ls -A /tmp");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "kept\n");
}

TEST(Sandbox, TmpRunAndShmAreFreshAndPrivate) {
    DORNA_REQUIRE_SANDBOX();
    std::string probe = "/tmp/" + Unique("dorna-sandbox-probe-");
    e2e::Sandbox box("fresh-tmp");
    // From a working directory under /tmp, that directory would be carried in.
    box.Chdir("/");
    e2e::Result r =
        box.Sh("ls -A /tmp /run /dev/shm; echo inside > " + probe + "; stat -c %a /tmp");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/dev/shm:\n\n/run:\n\n/tmp:\n1777\n");
    EXPECT_NE(access(probe.c_str(), F_OK), 0) << "a file written to /tmp inside reached the host";
}

TEST(Sandbox, PsSeesOnlyTheSandboxAndEverythingEndsWithTheCommand) {
    DORNA_REQUIRE_SANDBOX();
    // A copy of sleep under the name of a suite program, with a duration no
    // other process on the host uses.
    std::string secs = "4242" + std::to_string(getpid());
    e2e::Sandbox box("processes");
    e2e::Result r = box.Sh("cp /bin/sleep /tmp/dprint; /tmp/dprint " + secs + " & " +
                           e2e::WaitForProcess("dprint") + "; ps -e -o pid=,comm=");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, " dprint\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "      1 ")) << "no process 1 of its own:\n" << r.out;
    EXPECT_FALSE(Contains(r.out, "sandbox_e2e")) << "the host's processes show:\n" << r.out;
    EXPECT_LE(std::count(r.out.begin(), r.out.end(), '\n'), 8) << r.out;

    e2e::Result host = e2e::RunHost({"ps", "-e", "-o", "args="});
    EXPECT_FALSE(Contains(host.out, "dprint " + secs)) << "the background process outlived the run";
}

TEST(Sandbox, ASmallTmpfsRunsOutOfRoomForRealAndLeavesNoMountBehind) {
    DORNA_REQUIRE_SANDBOX();
    std::string before = e2e::ReadHostFile("/proc/self/mountinfo");
    e2e::Sandbox box("small-tmpfs");
    box.AllowMounts();
    e2e::Result r = box.Sh("mkdir /tmp/small && mount -t tmpfs -o size=64k tmpfs /tmp/small &&"
                           " df -k /tmp/small | awk 'NR==2{print $4}' &&"
                           " dd if=/dev/zero of=/tmp/small/f bs=1k count=200 2>&1;"
                           " echo dd=$?");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "64\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "No space left on device")) << r.out;
    EXPECT_TRUE(Contains(r.out, "dd=1\n")) << r.out;
    EXPECT_EQ(e2e::ReadHostFile("/proc/self/mountinfo"), before);
}

TEST(Sandbox, PassesInputOutputAndExitStatusThrough) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("streams");
    struct Case {
        std::string script;
        std::string input;
        int status;
        std::string out;
    } cases[] = {
        {"cat", "y\nsecond line\n", 0, "y\nsecond line\n"},
        {"read a; echo \"got $a\"", "y\n", 0, "got y\n"},
        {"exit 1", "", 1, ""},
        {"exit 2", "", 2, ""},
        {"echo out; exit 7", "", 7, "out\n"},
        {"kill -TERM $$", "", 143, ""},
        {"exec /no/such/program", "", 127, ""},
    };
    for (const Case &c : cases) {
        e2e::Result r = box.Sh(c.script, c.input);
        EXPECT_EQ(r.status, c.status) << c.script << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.script;
    }
    // Large streams both ways at once: the harness must not deadlock.
    std::string big(3 << 20, 'x');
    for (size_t i = 0; i < big.size(); i += 4096)
        big[i] = '\n';
    e2e::Result large = box.Sh("tee /dev/stderr", big);
    EXPECT_EQ(large.status, 0);
    EXPECT_TRUE(large.out == big) << large.out.size();
    EXPECT_TRUE(large.err == big) << large.err.size();

    e2e::Result r = box.Sh("echo to-stderr >&2");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "to-stderr\n");
}

// An interactive program in the sandbox keeps its terminal: run in tmux.
TEST(Sandbox, ATerminalPassesThroughForInteractivePrograms) {
    DORNA_REQUIRE_SANDBOX();
    if (e2e::RunHost({"sh", "-c", "command -v tmux"}).status != 0) {
        if (e2e::UnderCI()) FAIL() << "tmux is required under CI=true";
        GTEST_SKIP() << "tmux is not installed";
    }
    e2e::Sandbox box("terminal");
    e2e::Terminal term(e2e::ShellQuote(e2e::SandboxTool()) + " " + e2e::ShellQuote(box.Upper()) +
                       " sh -c 'tty -s && echo on-a-tty; printf \"Agree? \"; read a;"
                       " echo \"got=$a\"'");
    ASSERT_TRUE(term.Started());
    EXPECT_TRUE(term.WaitFor("on-a-tty\nAgree?")) << term.Screen();
    term.Type("y");
    term.Press("Enter");
    EXPECT_TRUE(term.WaitFor("got=y\n\n[exited 0]")) << term.Screen();

    // Ctrl-C reaches the command and ends the sandbox with it.
    e2e::Terminal waiting(e2e::ShellQuote(e2e::SandboxTool()) + " " + e2e::ShellQuote(box.Upper()) +
                          " sh -c 'echo waiting; sleep 100'");
    ASSERT_TRUE(waiting.WaitFor("waiting")) << waiting.Screen();
    waiting.Press("C-c");
    EXPECT_TRUE(waiting.WaitFor("[exited 130]")) << waiting.Screen();
}

TEST(Terminal, QuotesAndKeysReachTheProgramAsTyped) {
    if (e2e::RunHost({"sh", "-c", "command -v tmux"}).status != 0)
        GTEST_SKIP() << "tmux is not installed";
    std::string odd = "it's a \"$HOME\" `x` \\ ;";
    e2e::Terminal term("printf '%s|' " + e2e::ShellQuote(odd) + "; read line; echo \"[$line]\"", 60,
                       5);
    ASSERT_TRUE(term.Started());
    EXPECT_TRUE(term.WaitFor(odd + "|")) << term.Screen();
    term.Type("a b;$c");
    term.Press("Enter");
    EXPECT_TRUE(term.WaitFor("[a b;$c]\n\n[exited 0]")) << term.Screen();
    EXPECT_FALSE(term.WaitFor("never shown", 200));

    e2e::Terminal failing("echo bye; exit 3");
    EXPECT_TRUE(failing.WaitFor("bye\n\n[exited 3]")) << failing.Screen();
}

TEST(Sandbox, KeepsTheEnvironmentAndSetsOrUnsetsWhatItIsTold) {
    DORNA_REQUIRE_SANDBOX();
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("DORNA_GONE", "here", 1);
    e2e::Sandbox box("environment");
    box.Env("DORNA_SPACED=two words");
    box.Env("PRINTER=lp0");
    box.Unset("DORNA_GONE");
    e2e::Result r = box.Sh("echo \"$LANG|$DORNA_SPACED|$PRINTER|${DORNA_GONE-unset}|$(id -u)\"");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "de_DE.UTF-8|two words|lp0|unset|0\n");
    unsetenv("DORNA_GONE");
}

TEST(Sandbox, BindsDirectoriesAndFilesReadOnlyOrWritable) {
    DORNA_REQUIRE_SANDBOX();
    std::string host = std::string(e2e::ScratchDir()) + "/" + Unique("binds-");
    ASSERT_EQ(e2e::RunHost({"sh", "-c",
                            "rm -rf \"$0\"; mkdir -p \"$0/ro\" \"$0/rw\" &&"
                            " echo site > \"$0/ro/disks\" && echo one > \"$0/file\"",
                            host})
                  .status,
              0);
    e2e::Sandbox box("binds");
    box.BindRo(host + "/ro", "/tmp/site");
    box.Bind(host + "/rw", "/tmp/out");
    box.BindRo(host + "/file", "/etc/dorna-file");
    e2e::Result r = box.Sh("cat /tmp/site/disks /etc/dorna-file;"
                           " touch /tmp/site/x 2>/dev/null && echo ro-writable;"
                           " echo result > /tmp/out/result");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "site\none\n");
    EXPECT_EQ(e2e::ReadHostFile(host + "/rw/result"), "result\n");
    EXPECT_NE(access((host + "/ro/x").c_str(), F_OK), 0);

    // A destination the sandbox's mounts would not catch is not made on the host.
    e2e::Sandbox other("bind-elsewhere");
    other.Bind(host + "/rw", "/srv/dorna-new");
    r = other.Sh("true");
    EXPECT_EQ(r.status, 125);
    EXPECT_TRUE(Contains(r.err, "sandbox: bind destination /srv/dorna-new does not exist"))
        << r.err;
    EXPECT_NE(access("/srv/dorna-new", F_OK), 0);
    e2e::RunHost({"rm", "-rf", host});
}

TEST(Sandbox, TheRestOfTheHostIsReadOnlyUnlessAskedOtherwise) {
    DORNA_REQUIRE_SANDBOX();
    // The working directory is a host directory seen inside, wherever it is.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string probe = std::string(cwd) + "/" + Unique("host-write-");
    e2e::Sandbox box("read-only-host");
    e2e::Result r = box.Sh("echo x > " + e2e::ShellQuote(probe));
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "Read-only file system")) << r.err;
    EXPECT_NE(access(probe.c_str(), F_OK), 0);

    box.HostRw();
    EXPECT_EQ(box.Sh("echo x > " + e2e::ShellQuote(probe)).status, 0);
    EXPECT_EQ(access(probe.c_str(), F_OK), 0);
    unlink(probe.c_str());
}

TEST(Sandbox, MoreDirectoriesCanBeOverlaid) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("overlay-opt");
    box.Overlay("/opt");
    e2e::Result r = box.Sh("mkdir -p /opt/Dorna/dpxx && echo x > /opt/Dorna/dpxx/f");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(box.ReadFile("/opt/Dorna/dpxx/f"), "x\n");
    EXPECT_NE(access("/opt/Dorna", F_OK), 0);
    std::vector<std::string> want{"/opt/Dorna", "/opt/Dorna/dpxx", "/opt/Dorna/dpxx/f"};
    EXPECT_EQ(box.Changes(), want);
}

TEST(Sandbox, ANetworkOfItsOwnHasOnlyTheLoopbackUp) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("net");
    box.Net();
    // Its interfaces, and no listeners of the host's.
    e2e::Result r = box.Sh("sed 1,2d /proc/net/dev | cut -d: -f1 | tr -d ' ';"
                           " cat /sys/class/net/lo/operstate;"
                           " awk 'NR>1' /proc/net/tcp | wc -l");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "lo\nunknown\n0\n");
}

TEST(Sandbox, WorkingDirectoryIsKeptOrChosen) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Sandbox box("chdir");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    e2e::Result r = box.Sh("pwd");
    EXPECT_EQ(r.out, std::string(cwd) + "\n");
    box.Chdir("/usr/share");
    EXPECT_EQ(box.Sh("pwd").out, "/usr/share\n");
    box.Chdir("/no/such/dir");
    r = box.Sh("pwd");
    EXPECT_EQ(r.status, 125);
    EXPECT_TRUE(Contains(r.err, "no such directory inside the sandbox: /no/such/dir")) << r.err;
}

TEST(Sandbox, WorksForAnUnprivilegedUserThroughAUserNamespace) {
    DORNA_REQUIRE_SANDBOX();
    if (getuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to become an ordinary user";
    std::string dir = std::string(e2e::ScratchDir()) + "/" + Unique("nobody-");
    e2e::RunHost({"sh", "-c", "rm -rf \"$0\"; mkdir -p \"$0\" && chown 65534 \"$0\"", dir});
    std::vector<std::string> nobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    // A checkout below a directory other users cannot enter (root's home)
    // keeps the tool out of that user's reach: nothing to learn here then.
    std::vector<std::string> reach = nobody;
    reach.insert(reach.end(),
                 {"sh", "-c", "test -r \"$0\" && test -x \"$1\"", e2e::SandboxTool(), dir});
    if (e2e::RunHost(reach).status != 0) {
        e2e::RunHost({"rm", "-rf", dir});
        GTEST_SKIP() << "user 65534 cannot reach " << e2e::SandboxTool() << " or " << dir;
    }
    std::vector<std::string> asNobody = nobody;
    asNobody.push_back(e2e::SandboxTool());
    std::vector<std::string> check = asNobody;
    check.insert(check.end(), {"--check", dir});
    e2e::Result c = e2e::RunHost(check);
    if (c.status != 0) {
        EXPECT_TRUE(Contains(c.out, "unprivileged user namespaces are not available")) << c.out;
        e2e::RunHost({"rm", "-rf", dir});
        return;
    }
    std::vector<std::string> run = asNobody;
    run.insert(run.end(), {dir + "/up", "sh", "-c", "id -u; touch /usr/dorna-nobody"});
    e2e::Result r = e2e::RunHost(run);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");
    struct stat st {};
    EXPECT_EQ(lstat((dir + "/up/usr/dorna-nobody").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    e2e::RunHost({"rm", "-rf", dir});
}

// The caller's files under /tmp, which the sandbox covers with a fresh tmpfs:
// a checkout there, below a directory only its owner may enter, in folders
// whose names hold blanks.
TEST(Sandbox, CallersFilesUnderTmpStayReachable) {
    DORNA_REQUIRE_SANDBOX();
    const std::string top = "/tmp/" + Unique("dorna sandbox carry.");
    const std::string checkout = top + "/home/a checkout";
    const std::string cwd = checkout + "/build dir";
    const std::string upper = checkout + "/scratch/up per";
    ASSERT_EQ(e2e::RunHost({"sh", "-c",
                            "rm -rf \"$0\" && mkdir -p \"$1/site\" \"$1/out\" \"$2\" &&"
                            " chmod 700 \"$0/home\" && echo site > \"$1/site/disks\" &&"
                            " echo one > \"$1/file\"",
                            top, checkout, cwd})
                  .status,
              0);
    auto run = [&](const std::vector<std::string> &options, const std::string &script) {
        std::vector<std::string> argv{"sh", "-c", "cd \"$0\" && exec \"$@\"", cwd,
                                      e2e::SandboxTool()};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {upper, "sh", "-c", script});
        return e2e::RunHost(argv);
    };
    // Binds from under /tmp to /tmp and elsewhere; relative sources are taken
    // from the working directory.
    e2e::Result r = run({"-r", "../site:/tmp/site", "-b", checkout + "/out:/tmp/out", "-r",
                         checkout + "/file:/etc/dorna-file"},
                        "pwd; cat /tmp/site/disks /etc/dorna-file; echo result > /tmp/out/result;"
                        " echo x > probe || echo read-only; echo made > /usr/dorna-carry;"
                        " ls -A /tmp; ls -A \"$(dirname \"$PWD\")\"");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, cwd + "\nsite\none\nread-only\n" + top.substr(5) + "\nout\nsite\nbuild dir\n");
    EXPECT_TRUE(Contains(r.err, "Read-only file system")) << r.err;
    EXPECT_EQ(e2e::ReadHostFile(checkout + "/out/result"), "result\n");
    EXPECT_EQ(e2e::ReadHostFile(upper + "/usr/dorna-carry"), "made\n");
    EXPECT_NE(access((cwd + "/probe").c_str(), F_OK), 0);
    EXPECT_NE(access("/usr/dorna-carry", F_OK), 0);
    // Nothing of the staging is left in the upper directory.
    e2e::Result left = e2e::RunHost({"ls", "-A", upper + "/.sandbox"});
    EXPECT_EQ(left.out, "marker\nwork\n");

    // With the host writable the working directory is too; a chosen one is
    // not carried in.
    r = run({"--host-rw"}, "echo x > probe && ls -A /tmp");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadHostFile(cwd + "/probe"), "x\n");
    r = run({"--chdir", "/tmp"}, "pwd; ls -A /tmp");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/tmp\n");
    EXPECT_EQ(e2e::RunHost({e2e::SandboxTool(), "--clean", upper}).status, 0);
    EXPECT_NE(access(upper.c_str(), F_OK), 0);
    e2e::RunHost({"rm", "-rf", top});
}

// Failures of the sandbox itself need no namespaces: they are caught before.
TEST(Sandbox, BadUseGetsAClearErrorAndStatus125) {
    std::string scratch = e2e::ScratchDir();
    mkdir(scratch.c_str(), 0755);
    std::string file = scratch + "/" + Unique("a-file-");
    ASSERT_EQ(e2e::RunHost({"touch", file}).status, 0);
    std::string link = scratch + "/" + Unique("link-to-usr-share-");
    ASSERT_EQ(e2e::RunHost({"ln", "-sfn", "/usr/share", link}).status, 0);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "sandbox: missing UPPER-DIR"},
        {{scratch + "/up"}, "sandbox: missing COMMAND"},
        {{"--bogus", scratch + "/up", "true"}, "sandbox: unknown option: --bogus"},
        {{file, "true"}, "sandbox: upper directory is not a directory: " + file},
        {{"/usr/share/up", "true"}, "lies inside /usr, which is overlaid"},
        {{"--bind", "/no/such/src", scratch + "/up", "true"},
         "sandbox: bind source does not exist: /no/such/src"},
        {{"--overlay", "/tmp", scratch + "/up", "true"}, "sandbox: cannot overlay /tmp"},
        {{"--overlay", "/usr/lib", scratch + "/up", "true"},
         "sandbox: cannot overlay /usr/lib: it overlaps the overlay on /usr"},
        {{"--env", "NOVALUE", scratch + "/up", "true"}, "sandbox: not NAME=VALUE: NOVALUE"},
        {{"--env", "BAD-NAME=1", scratch + "/up", "true"},
         "sandbox: not a variable name: BAD-NAME"},
        {{"--unset", "9X", scratch + "/up", "true"}, "sandbox: not a variable name: 9X"},
        {{"--bind"}, "sandbox: --bind needs SRC[:DST]"},
        {{link + "/x", "true"}, "sandbox: upper directory " + link + "/x lies inside /usr"},
        {{"--clean"}, "sandbox: --clean takes one directory"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv{e2e::SandboxTool()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        e2e::Result r = e2e::RunHost(argv);
        EXPECT_EQ(r.status, 125) << c.message;
        EXPECT_TRUE(Contains(r.err, c.message)) << "want: " << c.message << "\ngot: " << r.err;
        EXPECT_EQ(r.out, "");
    }
    // A relative source in a working directory whose name holds a colon.
    std::string colon = scratch + "/" + Unique("a:b-");
    mkdir(colon.c_str(), 0755);
    mkdir((colon + "/site").c_str(), 0755);
    e2e::Result r = e2e::RunHost({"sh", "-c", "cd \"$0\" && exec \"$1\" -r site \"$2\" true", colon,
                                  e2e::SandboxTool(), scratch + "/up"});
    EXPECT_EQ(r.status, 125);
    EXPECT_TRUE(Contains(r.err, "sandbox: a bind source holds no \":\": " + colon + "/site"))
        << r.err;
    rmdir((colon + "/site").c_str());
    rmdir(colon.c_str());
    unlink(file.c_str());
    unlink(link.c_str());
}

TEST(Sandbox, CheckSaysWhyNoSandboxCanBeMade) {
    // bash found by its full path, every other tool hidden.
    e2e::Result r =
        e2e::RunHost({"env", "PATH=/nonexistent", "/bin/bash", e2e::SandboxTool(), "--check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "sandbox: no sandbox here: unshare(1) is not installed"
                     " (Debian package util-linux)\n");
    r = e2e::RunHost({"env", "PATH=/nonexistent", "/bin/bash", e2e::SandboxTool(),
                      std::string(e2e::ScratchDir()) + "/never", "true"});
    EXPECT_EQ(r.status, 125);
    EXPECT_TRUE(Contains(r.err, "sandbox: unshare(1) is not installed")) << r.err;
}

TEST(Sandbox, CheckNamesAnUnusableScratchDirectory) {
    DORNA_REQUIRE_SANDBOX();
    e2e::Result r = e2e::RunHost({e2e::SandboxTool(), "--check", "/proc/no-such-dir"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "sandbox: no sandbox here: cannot create a scratch directory in"
                     " /proc/no-such-dir\n");
}

// Run only as a child of the next test, in an environment without a sandbox.
TEST(Sandbox, DISABLED_RequiresTheSandbox) {
    DORNA_REQUIRE_SANDBOX();
}

TEST(Sandbox, TestsWithoutASandboxSkipButFailUnderCI) {
    struct Case {
        const char *ci;
        int status;
        const char *says;
    } cases[] = {
        {"CI=false", 0, "[  SKIPPED ] Sandbox.DISABLED_RequiresTheSandbox"},
        {"CI=true", 1, "the sandbox is required under CI=true: "},
    };
    for (const Case &c : cases) {
        // With PATH emptied the sandbox script cannot even find bash.
        e2e::Result r = e2e::RunHost({"env", "PATH=/nonexistent", c.ci,
                                      "/proc/" + std::to_string(getpid()) + "/exe",
                                      "--gtest_also_run_disabled_tests",
                                      "--gtest_filter=Sandbox.DISABLED_RequiresTheSandbox"});
        EXPECT_EQ(r.status, c.status) << c.ci << "\n" << r.out;
        EXPECT_TRUE(Contains(r.out, c.says)) << c.ci << "\n" << r.out;
    }
}

TEST(Sandbox, HelpDescribesTheUse) {
    e2e::Result r = e2e::RunHost({e2e::SandboxTool(), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: sandbox [OPTION]... UPPER-DIR [--] COMMAND [ARG]...\n", 0), 0u);
    for (const char *opt : {"--bind", "--ro-bind", "--overlay", "--env", "--unset", "--chdir",
                            "--host-rw", "--net", "--allow-mounts", "--check", "--clean"})
        EXPECT_TRUE(Contains(r.out, opt)) << opt;
}

TEST(Sandbox, CleanRemovesUpperLayersWithWhiteoutsAndLockedWorkDirectories) {
    DORNA_REQUIRE_SANDBOX();
    std::string upper;
    {
        e2e::Sandbox box("clean");
        upper = box.Upper();
        ASSERT_EQ(box.Sh("rm /etc/passwd").status, 0);
        EXPECT_TRUE(box.Removed("/etc/passwd"));
    }
    if (getenv("DORNA_E2E_KEEP") == nullptr) {
        EXPECT_NE(access(upper.c_str(), F_OK), 0) << upper;
    }
}

// ------------------------------------------------------------------------
// The sandbox runs as root: none of its inputs may turn it against its host.

// A scratch directory of root's for one test, with a directory of nobody's
// in it; removed at the end.
struct HostileScratch {
    std::string dir;
    explicit HostileScratch(const std::string &name)
        : dir(std::string(e2e::ScratchDir()) + "/" + Unique(name)) {
        e2e::RunHost({"sh", "-c",
                      "rm -rf \"$0\" && mkdir -m 755 \"$0\" \"$0/nb\" && chown 65534 \"$0/nb\"",
                      dir});
    }
    ~HostileScratch() { e2e::RunHost({"rm", "-rf", dir}); }
    // Runs a shell line as nobody (uid 65534) on the host, in dir.
    e2e::Result AsNobody(const std::string &script) const {
        return e2e::RunHost({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sh",
                             "-c", "cd \"$0\" && " + script, dir});
    }
};

bool CanActAsNobody() {
    return getuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
}

TEST(SandboxHostile, AnUpperDirectoryAnotherUserCouldChangeIsRefused) {
    DORNA_REQUIRE_SANDBOX();
    if (!CanActAsNobody()) GTEST_SKIP() << "needs root and setpriv to act as another user";
    HostileScratch s("hostile-upper-");
    // What nobody prepares, run as nobody in s.dir; the upper directory
    // then given to the root sandbox; the reason it gives.
    struct Case {
        const char *name;
        std::string asNobody;
        std::string asRoot;
        std::string upper;
        std::string why;
    } cases[] = {
        {"nobody's upper with a preloaded library",
         "mkdir -p nb/up/etc nb/up/usr/lib && echo /usr/lib/evil.so > nb/up/etc/ld.so.preload &&"
         " cp /bin/true nb/up/usr/lib/evil.so",
         "", s.dir + "/nb/up", s.dir + "/nb is owned by another user"},
        {"upper below a directory of nobody's", "", "", s.dir + "/nb/new/up",
         s.dir + "/nb is owned by another user"},
        {"upper writable by everybody", "", "mkdir -m 777 up777 && chmod 777 up777",
         s.dir + "/up777", s.dir + "/up777 is writable by other users"},
        {"its own directory a link to nobody's", "mkdir nb/elsewhere",
         "mkdir -m 755 uplink && ln -s " + s.dir + "/nb/elsewhere uplink/.sandbox",
         s.dir + "/uplink", s.dir + "/uplink/.sandbox is a link"},
        {"an upper layer a link to the host's /etc", "",
         "mkdir -m 755 upetc && ln -s /etc upetc/etc", s.dir + "/upetc",
         s.dir + "/upetc/etc is a link"},
        {"an upper layer of nobody's", "", "mkdir -m 755 upnb && mkdir upnb/etc && chown 65534 upnb/etc",
         s.dir + "/upnb", s.dir + "/upnb/etc is owned by another user"},
    };
    for (const Case &c : cases) {
        if (!c.asNobody.empty()) {
            ASSERT_EQ(s.AsNobody(c.asNobody).status, 0) << c.name;
        }
        if (!c.asRoot.empty()) {
            ASSERT_EQ(e2e::RunHost({"sh", "-c", "cd \"$0\" && " + c.asRoot, s.dir}).status, 0)
                << c.name;
        }
        e2e::Result r = e2e::RunHost({e2e::SandboxTool(), c.upper, "echo", "ran"});
        EXPECT_EQ(r.status, 125) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_TRUE(Contains(r.err, "sandbox: upper directory " + c.upper + " cannot be used: " +
                                        c.why))
            << c.name << "\n" << r.err;
    }
    // Nothing was made through the links.
    EXPECT_NE(access((s.dir + "/nb/elsewhere/work").c_str(), F_OK), 0);
}

TEST(SandboxHostile, TheInsideEntryCannotBeReachedFromOutside) {
    DORNA_REQUIRE_SANDBOX();
    // Once it skipped the namespaces and covered the caller's /tmp.
    std::string probe = "/tmp/" + Unique("dorna-inside-probe-");
    ASSERT_EQ(e2e::RunHost({"touch", probe}).status, 0);
    e2e::Result r = e2e::RunHost({e2e::SandboxTool(), "--inside", std::string(e2e::ScratchDir()),
                                  "0", "", "0", "0", "--", "ls", probe});
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "sandbox: unknown option: --inside")) << r.err;
    EXPECT_EQ(access(probe.c_str(), F_OK), 0);
    unlink(probe.c_str());
}

TEST(SandboxHostile, CleanRemovesOnlyWhatASandboxMade) {
    DORNA_REQUIRE_SANDBOX();
    if (!CanActAsNobody()) GTEST_SKIP() << "needs root and setpriv to act as another user";
    HostileScratch s("hostile-clean-");
    ASSERT_EQ(e2e::RunHost({"sh", "-c",
                            "cd \"$0\" && mkdir -p -m 755 plain/keep empty victim/keep &&"
                            " ln -s victim link && mkdir -m 755 fake && ln -s ../victim fake/.sandbox &&"
                            " mkdir -p nb/.sandbox && touch nb/.sandbox/marker",
                            s.dir})
                  .status,
              0);
    ASSERT_EQ(e2e::RunHost({e2e::SandboxTool(), s.dir + "/made", "true"}).status, 0);
    struct Case {
        const char *name;
        std::string dir;
        int status;
        std::string message; // in the error output; empty: none
        bool gone;
    } cases[] = {
        {"a directory no sandbox made", s.dir + "/plain", 125,
         "holds no marker " + s.dir + "/plain/.sandbox/marker", false},
        {"a link to a directory", s.dir + "/link", 125, "not removed: " + s.dir + "/link is a link",
         false},
        {"a marker reached through a link", s.dir + "/fake", 125,
         "not removed: " + s.dir + "/fake/.sandbox is a link", false},
        {"a directory of nobody's with a marker", s.dir + "/nb", 125,
         "not removed: " + s.dir + "/nb is owned by another user", false},
        {"an empty directory", s.dir + "/empty", 0, "", true},
        {"a missing directory", s.dir + "/missing", 0, "", true},
        {"an upper directory a sandbox made", s.dir + "/made", 0, "", true},
    };
    for (const Case &c : cases) {
        e2e::Result r = e2e::RunHost({e2e::SandboxTool(), "--clean", c.dir});
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
        if (!c.message.empty()) {
            EXPECT_TRUE(Contains(r.err, c.message)) << c.name << "\n" << r.err;
        }
        struct stat st {};
        EXPECT_EQ(lstat(c.dir.c_str(), &st) != 0, c.gone) << c.name;
    }
    EXPECT_EQ(access((s.dir + "/victim/keep").c_str(), F_OK), 0);
}

TEST(SandboxHostile, TheCommandCannotChangeMountsUnlessAllowed) {
    DORNA_REQUIRE_SANDBOX();
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string probe = std::string(cwd) + "/" + Unique("remount-probe-");
    e2e::Sandbox box("no-mounts");
    box.Chdir("/");
    struct Case {
        const char *name;
        std::string script;
    } cases[] = {
        {"remount the host writable",
         "mount -o remount,bind,rw / && echo x > " + e2e::ShellQuote(probe)},
        {"uncover what lies below an overlay", "umount -l /etc"},
        {"mount a file system", "mkdir /tmp/m && mount -t tmpfs tmpfs /tmp/m"},
        {"the same through a set-user-ID program", "mkdir /tmp/m && cp /bin/mount /tmp/m-suid &&"
                                                   " chmod 4755 /tmp/m-suid &&"
                                                   " /tmp/m-suid -t tmpfs tmpfs /tmp/m"},
    };
    for (const Case &c : cases) {
        e2e::Result r = box.Sh(c.script + " 2>&1; echo \"status=$?\"");
        EXPECT_TRUE(Contains(r.out, "status=32") || Contains(r.out, "status=1"))
            << c.name << "\n" << r.out << r.err;
    }
    EXPECT_NE(access(probe.c_str(), F_OK), 0) << "the command wrote to the host";
    EXPECT_EQ(box.Sh("grep -c ' /etc ' /proc/self/mountinfo").out, "1\n");

    box.AllowMounts();
    e2e::Result r = box.Sh("mkdir /tmp/m && mount -t tmpfs tmpfs /tmp/m && echo mounted");
    EXPECT_EQ(r.out, "mounted\n") << r.err;
    unlink(probe.c_str());
}

} // namespace
