// The whole sample installation run twice in the sandbox: once as the
// command layer chooses (plain lines start their programs directly) and once
// with every command line handed to the shell (DORNA_SYSCMD_SHELL=1). Both
// must leave the same files, modes, links and run log.
#include "Sandbox.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// What one installation left: every changed path with its kind, permission
// bits and content, and the run log.
struct Installation {
    std::string status, tree, log;
};

Installation Install(const std::string &name, bool shellOnly) {
    e2e::Sandbox box(name);
    box.BindRo(e2e::SiteDir(), "/tmp/site");
    box.Unset("LANG");
    if (shellOnly) box.Env("DORNA_SYSCMD_SHELL=1");
    // /tmp is the sandbox's own: keep the log where the upper layers hold it.
    e2e::Result r =
        box.Sh("/tmp/site/setup; echo \"status=$?\"; cp /tmp/setup.log /var/setup.log", "y\n");
    Installation in;
    in.status = r.out.substr(r.out.rfind("status="));
    in.log = box.ReadFile("/var/setup.log");
    for (const std::string &path : box.Changes()) {
        if (path == "/var/setup.log") continue;
        in.tree += path;
        std::string host = box.UpperPath(path);
        struct stat st;
        if (lstat(host.c_str(), &st) == 0) {
            in.tree += " " + std::to_string(st.st_mode & 07777) + " uid " +
                       std::to_string(st.st_uid) + " gid " + std::to_string(st.st_gid);
            if (S_ISLNK(st.st_mode)) {
                char target[4096];
                ssize_t n = readlink(host.c_str(), target, sizeof target);
                in.tree += " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
            } else if (S_ISREG(st.st_mode)) {
                std::string text = box.ReadFile(path);
                // The manifest records when the run ended; the two runs may
                // end in different seconds.
                if (path == "/var/lib/Dorna/dpxx.manifest") {
                    size_t at = text.find("\ndate ");
                    if (at != std::string::npos) text.erase(at + 6, text.find('\n', at + 1) - at - 6);
                }
                in.tree += " [" + text + "]";
            }
        }
        in.tree += "\n";
    }
    return in;
}

TEST(CommandLayer, TheSampleInstallationIsTheSameWithAndWithoutTheShell) {
    DORNA_REQUIRE_SANDBOX();
    Installation direct = Install("syscmd-direct", false);
    Installation shell = Install("syscmd-shell", true);
    EXPECT_EQ(direct.status, "status=0\n");
    EXPECT_EQ(direct.status, shell.status);
    EXPECT_FALSE(direct.tree.empty());
    EXPECT_EQ(direct.tree, shell.tree);
    EXPECT_TRUE(e2e::Contains(direct.log, "initializing system\n"));
    EXPECT_EQ(direct.log, shell.log);
}

} // namespace
