// The manifest, --verify and --uninstall, run whole as root in the sandbox
// against the sample site. The sandbox's upper layers are the truth of what
// a run changed: the manifest is checked against them, and after an
// uninstallation they must hold nothing of the suite any more.
#include "Sandbox.h"
#include "setup.h"

#include <sys/stat.h>

#include <set>
#include <string>

namespace {

using e2e::Contains;

const char *const kManifest = "/var/lib/Dorna/dpxx.manifest";

// A sandbox with the site at /tmp/site and /opt overlaid as well.
struct Box : e2e::Sandbox {
    explicit Box(const std::string &name) : e2e::Sandbox(name) {
        BindRo(e2e::SiteDir(), "/tmp/site");
        Unset("LANG");
        Overlay("/opt");
    }
    Manifest Read(std::string *why = nullptr) const {
        const std::string text = ReadFile(kManifest);
        Manifest m;
        std::string reason;
        if (!parseManifest(text.data(), text.size(), &m, &reason)) m.format = 0;
        if (why != nullptr) *why = reason;
        return m;
    }
};

std::set<std::string> PathsOf(const Manifest &m) {
    std::set<std::string> paths;
    for (const ManifestEntry &e : m.entries)
        paths.insert(e.path);
    return paths;
}

// What the run made, by the upper layers: every entry that is not a
// whiteout, leaving out directories the host already had (the overlay
// copies them up when something below them changes) and the manifest's own.
std::set<std::string> MadeByTheRun(const Box &box) {
    std::set<std::string> made;
    for (const std::string &path : box.Changes()) {
        if (Contains(path, " (removed)")) continue;
        struct stat host;
        if (lstat(path.c_str(), &host) == 0 && S_ISDIR(host.st_mode)) continue;
        if (path == "/var/lib/Dorna" || path == kManifest) continue;
        // The sample suite's programs log their calls here: made by them, not
        // by the installation.
        if (path.compare(0, 22, "/var/spool/Dorna/calls") == 0) continue;
        made.insert(path);
    }
    return made;
}

// Every path of the manifest is as the upper layer holds it: the kind, the
// mode, and for files the digest sha256sum gives.
void ExpectEntriesMatchTheUpperLayers(const Box &box, const Manifest &m) {
    for (const ManifestEntry &e : m.entries) {
        if (e.kind == MANIFEST_FAILED) continue;
        const std::string upper = box.UpperPath(e.path);
        struct stat st;
        ASSERT_EQ(lstat(upper.c_str(), &st), 0) << e.path << " is not in the upper layers";
        EXPECT_EQ(st.st_mode & 07777, e.mode) << e.path;
        if (e.kind == MANIFEST_FILE) {
            EXPECT_TRUE(S_ISREG(st.st_mode)) << e.path;
            e2e::Result sum = e2e::RunHost({"sha256sum", upper});
            EXPECT_EQ(sum.out.substr(0, 64), e.data) << e.path;
        }
        if (e.kind == MANIFEST_LINK) {
            EXPECT_TRUE(S_ISLNK(st.st_mode)) << e.path;
        }
        if (e.kind == MANIFEST_DIR) {
            EXPECT_TRUE(S_ISDIR(st.st_mode)) << e.path;
        }
    }
}

} // namespace

TEST(Manifest, FreshInstallationListsExactlyWhatTheRunMade) {
    DORNA_REQUIRE_SANDBOX();
    Box box("manifest-fresh");
    ASSERT_EQ(box.Run({"/tmp/site/setup", "install", "/opt"}, "y\n").status, 0);
    std::string why;
    Manifest m = box.Read(&why);
    ASSERT_EQ(m.format, MANIFEST_FORMAT) << why << box.ReadFile(kManifest);
    EXPECT_EQ(m.root, "/opt");
    EXPECT_EQ(m.appDir, "/opt/Dorna/dpxx");
    EXPECT_EQ(m.suite, "4.30.09");
    EXPECT_EQ(box.Mode(kManifest), 0644);
    EXPECT_EQ(box.Mode("/var/lib/Dorna"), 0755);
    EXPECT_EQ(PathsOf(m), MadeByTheRun(box));
    ExpectEntriesMatchTheUpperLayers(box, m);
    // The launcher, the well-known link and the link into the tree are there.
    const std::set<std::string> paths = PathsOf(m);
    for (const char *path : {"/usr/bin/dprintdpxx", "/usr/Dorna/dpxx", "/usr/lib/dpxx",
                             "/var/spool/Dorna/dpxx/__dpa_download__", "/opt/Dorna/dpxx/dsf"})
        EXPECT_EQ(paths.count(path), 1u) << path;
}

TEST(Manifest, UpgradeAndRelocationRewriteItForTheRootInUse) {
    DORNA_REQUIRE_SANDBOX();
    Box box("manifest-upgrade");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    const std::set<std::string> fresh = PathsOf(box.Read());
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    Manifest upgraded = box.Read();
    EXPECT_EQ(PathsOf(upgraded), fresh);
    EXPECT_EQ(PathsOf(upgraded), MadeByTheRun(box));
    ExpectEntriesMatchTheUpperLayers(box, upgraded);

    // Moved to /opt: listed under the new root, the link at the well-known
    // location included.
    e2e::Result r = box.Run({"/tmp/site/setup", "install", "/opt"}, "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    Manifest moved = box.Read();
    EXPECT_EQ(moved.root, "/opt");
    for (const ManifestEntry &e : moved.entries)
        EXPECT_FALSE(e.path.compare(0, 16, "/usr/Dorna/dpxx/") == 0) << e.path;
    EXPECT_EQ(PathsOf(moved).count("/usr/Dorna/dpxx"), 1u);
    EXPECT_EQ(PathsOf(moved).count("/opt/Dorna/dpxx/dsf"), 1u);
    ExpectEntriesMatchTheUpperLayers(box, moved);

    // Installed fresh under /opt, the sample list's link /usr/lib/dpxx names
    // /opt itself, so after a move its tree copy through that link fails:
    // listed as failed. The emptied /opt/Dorna is the suite's still.
    Box other("manifest-relocate");
    ASSERT_EQ(other.Run({"/tmp/site/setup", "install", "/opt"}, "y\n").status, 0);
    r = other.Run({"/tmp/site/setup", "install", "/var/x"}, "y\n");
    EXPECT_EQ(r.status, 1) << r.err;
    moved = other.Read();
    EXPECT_EQ(moved.root, "/var/x");
    for (const ManifestEntry &e : moved.entries)
        EXPECT_TRUE(e.path.compare(0, 5, "/opt/") != 0 ||
                    (e.path == "/opt/Dorna" && e.kind == MANIFEST_DIR))
            << e.path;
    EXPECT_EQ(PathsOf(moved).count("/var/x/Dorna/dpxx/dsf"), 1u);
    bool failedListed = false;
    for (const ManifestEntry &e : moved.entries)
        if (e.path == "/usr/lib/dpxx/selinux") failedListed = e.kind == MANIFEST_FAILED;
    EXPECT_TRUE(failedListed) << other.ReadFile(kManifest);
    ExpectEntriesMatchTheUpperLayers(other, moved);
}

TEST(Manifest, FailedCopiesAreListedAsFailed) {
    DORNA_REQUIRE_SANDBOX();
    Box box("manifest-failed");
    // The package list names a program the package lacks.
    e2e::Result r = box.Sh("mkdir /tmp/s && cp -a /tmp/site/. /tmp/s/ && cd /tmp/s && "
                           "mkdir x && cat pkg_tar.* | gzip -dc | tar -xf - -C x && "
                           "echo 'c nosuchprogram mode 755' >> x/pkg/pkg.list && "
                           "rm pkg_tar.* && (cd x && tar -cf - pkg) | gzip > pkg_tar.aa && "
                           "printf 'disks\\npkg_tar.aa\\nend_of_list\\n' > disks && "
                           "/tmp/s/setup; echo \"status=$?\"",
                           "y\n");
    EXPECT_TRUE(Contains(r.out, "status=1")) << r.out << r.err;
    Manifest m = box.Read();
    bool listed = false;
    for (const ManifestEntry &e : m.entries)
        if (e.path == "/usr/Dorna/dpxx/nosuchprogram") listed = e.kind == MANIFEST_FAILED;
    EXPECT_TRUE(listed) << box.ReadFile(kManifest);
    EXPECT_TRUE(Contains(box.ReadFile(kManifest), "/usr/Dorna/dpxx/nosuchprogram failed - - - - -\n"));
}

TEST(Verify, CleanThenEveryKindOfChange) {
    DORNA_REQUIRE_SANDBOX();
    Box box("verify-changes");
    ASSERT_EQ(box.Run({"/tmp/site/setup", "install", "/opt"}, "y\n").status, 0);
    // No agreement, no write access needed: a user of no rights verifies.
    e2e::Result r = box.Sh("setpriv --reuid=65534 --regid=65534 --clear-groups "
                           "/tmp/site/setup --verify; echo \"status=$?\"");
    EXPECT_EQ(r.out, "status=0\n") << r.err;
    EXPECT_EQ(box.Run({"/tmp/site/setup", "--verify", "/opt"}).status, 0);

    const struct {
        const char *name, *change, *line;
    } kCases[] = {
        {"content", "echo x >> /opt/Dorna/dpxx/DornaDSF", "S.5......    /opt/Dorna/dpxx/DornaDSF\n"},
        {"same size", "printf Y | dd of=/opt/Dorna/dpxx/DornaPrintdpxx bs=1 seek=3 conv=notrunc",
         "..5......    /opt/Dorna/dpxx/DornaPrintdpxx\n"},
        {"mode", "chmod 700 /opt/Dorna/dpxx/dpqadmin", ".M.......    /opt/Dorna/dpxx/dpqadmin\n"},
        {"owner", "chown nobody /opt/Dorna/dpxx/driver", ".....U...    /opt/Dorna/dpxx/driver\n"},
        {"group", "chgrp nogroup /opt/Dorna/dpxx/README", "......G..    /opt/Dorna/dpxx/README\n"},
        {"link retargeted", "ln -sfn /tmp /usr/lib/dpxx", "....L....    /usr/lib/dpxx\n"},
        {"removed", "rm /opt/Dorna/dpxx/AixInterface", "missing      /opt/Dorna/dpxx/AixInterface\n"},
    };
    std::string expected;
    for (const auto &c : kCases) {
        ASSERT_EQ(box.Sh(c.change).status, 0) << c.name;
        r = box.Run({"/tmp/site/setup", "--verify"});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(Contains(r.out, c.line)) << c.name << ":\n" << r.out;
        expected += c.line;
    }
    // One line per path, in the manifest's order.
    EXPECT_EQ(r.out.size(), expected.size()) << r.out;
}

TEST(Verify, MissingDamagedOrOtherRootManifestIsStatusTwo) {
    DORNA_REQUIRE_SANDBOX();
    Box box("verify-damaged");
    e2e::Result r = box.Run({"/tmp/site/setup", "--verify"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "ERROR: the manifest /var/lib/Dorna/dpxx.manifest is missing"))
        << r.err;
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    r = box.Run({"/tmp/site/setup", "--verify", "/opt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "records the installation under /usr, not under /opt")) << r.err;
    ASSERT_EQ(box.Sh("sed -i 's/ file 0755 / file 0999 /' /var/lib/Dorna/dpxx.manifest").status, 0);
    r = box.Run({"/tmp/site/setup", "--verify"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "is damaged: line ")) << r.err;
    EXPECT_TRUE(Contains(r.err, ": a bad mode")) << r.err;
}

TEST(Uninstall, CleanInstallationLeavesNothingBehind) {
    DORNA_REQUIRE_SANDBOX();
    Box box("uninstall-clean");
    ASSERT_EQ(box.Run({"/tmp/site/setup", "install", "/opt"}, "y\n").status, 0);
    // "n" keeps everything.
    e2e::Result r = box.Run({"/tmp/site/setup", "--uninstall"}, "n\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Remove it (y/n)? ")) << r.out;
    EXPECT_EQ(box.Run({"/tmp/site/setup", "--verify"}).status, 0);

    r = box.Sh("/tmp/site/setup --uninstall /opt; echo \"status=$?\"; "
               "grep -c 'rm -f ' /tmp/setup.log",
               "y\n");
    EXPECT_TRUE(Contains(r.out, "The Dorna print suite was removed.\nstatus=0\n")) << r.out << r.err;
    for (const std::string &path : box.Changes()) {
        struct stat host;
        bool hostDir = lstat(path.c_str(), &host) == 0 && S_ISDIR(host.st_mode);
        // The call logs of the sample suite's programs are theirs, and keep
        // the spool directory.
        bool calls = path.compare(0, 22, "/var/spool/Dorna/calls") == 0 || path == "/var/spool/Dorna";
        EXPECT_TRUE(Contains(path, " (removed)") || hostDir || calls || path == "/var/lib/Dorna")
            << path << " stayed";
    }
    EXPECT_FALSE(box.Changed(kManifest));
    EXPECT_EQ(box.Run({"/tmp/site/setup", "--verify"}).status, 2);
}

TEST(Uninstall, ChangedFileStaysUnlessForced) {
    DORNA_REQUIRE_SANDBOX();
    Box box("uninstall-changed");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    ASSERT_EQ(box.Sh("echo mine >> /usr/Dorna/dpxx/DornaDSF").status, 0);
    e2e::Result r = box.Run({"/tmp/site/setup", "--accept-agreement", "--uninstall"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "/usr/Dorna/dpxx/DornaDSF: its content changed")) << r.err;
    EXPECT_TRUE(Contains(box.ReadFile("/usr/Dorna/dpxx/DornaDSF"), "mine"));
    EXPECT_TRUE(box.Changed(kManifest));
    EXPECT_FALSE(box.Changed("/usr/Dorna/dpxx/dsf"));

    r = box.Run({"/tmp/site/setup", "--uninstall", "--force", "--accept-agreement"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(box.Changed("/usr/Dorna"));
    EXPECT_FALSE(box.Changed(kManifest));
}

TEST(Uninstall, RunningSuiteProgramIsWaitedForOrNothingIsRemoved) {
    DORNA_REQUIRE_SANDBOX();
    Box box("uninstall-running");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    e2e::Result r = box.Sh("cp /bin/sleep /tmp/dprint && /tmp/dprint 600 & " +
                               e2e::WaitForProcess("dprint") +
                               "; /tmp/site/setup --uninstall; echo \"status=$?\"; "
                               "/tmp/site/setup --accept-agreement --wait 0 --uninstall; "
                               "echo \"unattended=$?\"",
                           "2\n");
    EXPECT_TRUE(Contains(r.out, "2.  Quit the installation\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Nothing was removed.\nstatus=0\n")) << r.out << r.err;
    // Unattended, the guard gives the programs --wait seconds and then ends.
    EXPECT_TRUE(Contains(r.out, "unattended=1\n")) << r.out << r.err;
    EXPECT_TRUE(box.Changed("/usr/Dorna/dpxx/dsf"));
    EXPECT_EQ(box.Run({"/tmp/site/setup", "--verify"}).status, 0);
}

TEST(Uninstall, DamagedManifestRemovesNothing) {
    DORNA_REQUIRE_SANDBOX();
    Box box("uninstall-damaged");
    ASSERT_EQ(box.Run({"/tmp/site/setup"}, "y\n").status, 0);
    ASSERT_EQ(box.Sh("head -c 300 /var/lib/Dorna/dpxx.manifest > /tmp/m && "
                     "cat /tmp/m > /var/lib/Dorna/dpxx.manifest")
                  .status,
              0);
    e2e::Result r = box.Run({"/tmp/site/setup", "--uninstall", "--accept-agreement"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "is damaged")) << r.err;
    EXPECT_TRUE(box.Changed("/usr/Dorna/dpxx/dsf"));
}

TEST(Uninstall, HostileManifestNeverLeadsOutsideTheInstallation) {
    DORNA_REQUIRE_SANDBOX();
    Box box("uninstall-hostile");
    ASSERT_EQ(box.Run({"/tmp/site/setup", "install", "/opt"}, "y\n").status, 0);
    // A link inside the tree to /etc, a file in /usr/bin that is no
    // launcher of ours, and a manifest that lists host files with their
    // true digests, through the link, with "..", with escapes and as links.
    ASSERT_EQ(box.Sh("ln -s /etc /opt/Dorna/dpxx/etc-link && "
                     "printf '#!/bin/sh\\nexec /bin/true\\n' > /usr/bin/notours && "
                     "ln -s /etc/hostname /usr/lib/hostlink")
                  .status,
              0);
    auto line = [&](const std::string &escapedPath, const std::string &real) {
        e2e::Result sum = box.Sh("sha256sum " + real + " | cut -c1-64; stat -c '%a %s' " + real);
        std::vector<std::string> l = e2e::Lines(sum.out);
        if (l.size() < 2) return std::string();
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(std::stoul(l[1], nullptr, 8)));
        return escapedPath + " file " + mode + " root root " + l[1].substr(l[1].find(' ') + 1) +
               " " + l[0];
    };
    std::set<std::string> lines = {
        line("/etc/passwd", "/etc/passwd"),
        line("/opt/Dorna/dpxx/../../../etc/group", "/etc/group"),
        line("/opt/Dorna/dpxx/etc-link/shadow", "/etc/shadow"),
        line("/etc/host\\056conf", "/etc/host.conf"),
        line("/usr/bin/notours", "/usr/bin/notours"),
        "/usr/lib/hostlink link 0777 root root 13 /etc/hostname",
        "/etc dir 0755 root root - -",
    };
    std::string text = "format 1\nsuite 4.30.09\nroot /opt\nappdir /opt/Dorna/dpxx\n"
                       "printsystem BSD\ndate x\n";
    for (const std::string &l : lines)
        text += l + "\n";
    // The reader refuses the needless escape outright; without that line the
    // rest is a sound manifest that uninstall must still refuse to follow.
    ASSERT_EQ(box.Sh("cat > /var/lib/Dorna/dpxx.manifest", text).status, 0);
    e2e::Result r = box.Run({"/tmp/site/setup", "--uninstall", "--force", "--accept-agreement"});
    EXPECT_EQ(r.status, 2) << r.err;
    std::string sound;
    for (const std::string &l : lines)
        if (!Contains(l, "\\056")) sound += l + "\n";
    ASSERT_EQ(box.Sh("cat > /var/lib/Dorna/dpxx.manifest",
                     "format 1\nsuite 4.30.09\nroot /opt\nappdir /opt/Dorna/dpxx\n"
                     "printsystem BSD\ndate x\n" + sound)
                  .status,
              0);
    r = box.Run({"/tmp/site/setup", "--uninstall", "--force", "--accept-agreement"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const char *path : {"/etc/passwd", "/opt/Dorna/dpxx/../../../etc/group",
                             "/opt/Dorna/dpxx/etc-link/shadow", "/usr/lib/hostlink",
                             "/usr/bin/notours", "/etc"})
        EXPECT_TRUE(Contains(r.err, std::string("  ") + path + ": ")) << path << "\n" << r.err;
    EXPECT_FALSE(box.Removed("/etc/passwd"));
    EXPECT_FALSE(box.Removed("/etc/group"));
    EXPECT_FALSE(box.Removed("/etc/shadow"));
    EXPECT_EQ(box.Sh("test -L /usr/lib/hostlink && test -f /usr/bin/notours && echo both").out,
              "both\n");
    EXPECT_TRUE(box.Changed(kManifest));
}

namespace {

// The changes a run made, read from its upper layers against the host (the
// lower layers): "+ path", "~ path (what)" or "- path", sorted.
std::set<std::string> ChangesOfTheRun(const Box &box) {
    std::set<std::string> lines;
    for (const std::string &entry : box.Changes()) {
        const std::string removed = " (removed)";
        if (Contains(entry, removed)) {
            lines.insert("- " + entry.substr(0, entry.size() - removed.size()));
            continue;
        }
        struct stat up, host;
        if (lstat(box.UpperPath(entry).c_str(), &up) != 0) continue;
        if (lstat(entry.c_str(), &host) != 0) {
            lines.insert("+ " + entry);
            continue;
        }
        std::vector<std::string> what;
        if ((up.st_mode & S_IFMT) != (host.st_mode & S_IFMT))
            what.push_back("kind");
        else if (S_ISREG(up.st_mode) &&
                 e2e::RunHost({"cmp", "-s", box.UpperPath(entry), entry}).status != 0)
            what.push_back("content");
        else if (S_ISLNK(up.st_mode) &&
                 e2e::RunHost({"readlink", box.UpperPath(entry)}).out !=
                     e2e::RunHost({"readlink", entry}).out)
            what.push_back("link target");
        if (!S_ISLNK(up.st_mode) && (up.st_mode & 07777) != (host.st_mode & 07777))
            what.push_back("mode");
        if (up.st_uid != host.st_uid || up.st_gid != host.st_gid) what.push_back("owner");
        if (what.empty()) continue;
        std::string line = "~ " + entry + " (";
        for (size_t i = 0; i < what.size(); ++i)
            line += (i ? ", " : "") + what[i];
        lines.insert(line + ")");
    }
    return lines;
}

// The change lines of a preview's output.
std::set<std::string> ChangesShown(const std::string &out) {
    std::set<std::string> lines;
    for (const std::string &line : e2e::Lines(out))
        if (line.size() > 2 && (line[0] == '+' || line[0] == '~' || line[0] == '-') &&
            line[1] == ' ')
            lines.insert(line);
    return lines;
}

// Every file's path, mode, owner, size and time under the directories the
// installation writes, and the mount table: what must not move.
const char *const kSnapshot = "snap() { find /usr /var /etc /opt -xdev -printf "
                              "'%p %m %u %g %s %T@\\n' | sort; cat /proc/self/mountinfo; }; ";

} // namespace

TEST(Preview, ShowsWhatARealRunMakesAndLeavesTheHostAsItWas) {
    DORNA_REQUIRE_SANDBOX();
    Box real("preview-real");
    real.AllowMounts();
    ASSERT_EQ(real.Run({"/tmp/site/setup", "/tmp", "/opt"}, "y\n").status, 0);
    const std::set<std::string> truth = ChangesOfTheRun(real);

    Box box("preview-run");
    box.AllowMounts(); // the preview makes its own namespaces and overlays
    e2e::Result r = box.Sh(std::string(kSnapshot) +
                               "snap > /tmp/before; /tmp/site/setup --preview /tmp /opt "
                               "> /tmp/out; echo \"status=$?\"; snap > /tmp/after; "
                               "cmp -s /tmp/before /tmp/after && echo unchanged; cat /tmp/out",
                           "y\n", 600);
    EXPECT_TRUE(Contains(r.out, "status=0\nunchanged\n")) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Agree (y) / Disagree (n)? ")) << "the agreement is shown";
    EXPECT_TRUE(Contains(r.out, "The installation would end with status 0.\n")) << r.out;
    // The installation's ps (the running-process guard) finds the
    // namespace's /proc/self.
    EXPECT_FALSE(Contains(r.err, "lookup self")) << r.err;
    EXPECT_EQ(ChangesShown(r.out), truth) << r.out;
    EXPECT_TRUE(box.Changes().empty()) << "the preview wrote to the sandbox's own layers";

    // An upgrade with a changed host: the preview names the changes of kind
    // that a second real run makes.
    ASSERT_EQ(box.Run({"/tmp/site/setup", "/tmp", "/opt"}, "y\n").status, 0);
    // The manifest's date has one-second steps and a fast upgrade can end
    // within the second of the first run: the host's is made older.
    ASSERT_EQ(box.Sh("chmod 700 /opt/Dorna/dpxx/dpqadmin && rm /usr/bin/dprintdpxx && "
                     "sed -i 's/^date .*/date 2000-01-01T00:00:00Z/' /var/lib/Dorna/dpxx.manifest")
                  .status,
              0);
    r = box.Run({"/tmp/site/setup", "--accept-agreement", "--preview"}, "", 600);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Contains(r.out, "Agree (y)")) << "--accept-agreement shows no agreement";
    EXPECT_TRUE(Contains(r.out, "~ /opt/Dorna/dpxx/dpqadmin (mode)\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "+ /usr/bin/dprintdpxx\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "~ /var/lib/Dorna/dpxx.manifest (content)\n")) << r.out << r.err;
}

TEST(Preview, FailingInstallationGivesItsStatus) {
    DORNA_REQUIRE_SANDBOX();
    Box box("preview-failing");
    box.AllowMounts();
    ASSERT_EQ(box.Run({"/tmp/site/setup", "install", "/opt"}, "y\n").status, 0);
    // After a move to /var/x the tree copy through the old link fails (1).
    e2e::Result r = box.Run({"/tmp/site/setup", "--accept-agreement", "--preview", "install",
                             "/var/x"},
                            "", 600);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "The installation would end with status 1.\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "- /opt/Dorna/dpxx\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "+ /var/x/Dorna/dpxx/dsf\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "~ /usr/Dorna/dpxx (link target)\n")) << r.out;
    EXPECT_EQ(box.Sh("readlink /usr/Dorna/dpxx").out, "/opt/Dorna/dpxx\n");
}

TEST(Preview, RefusedWithTheReasonWhereNoLayerCanBeLaid) {
    DORNA_REQUIRE_SANDBOX();
    Box box("preview-refused");
    box.AllowMounts();
    const struct {
        const char *name, *script, *why;
    } kCases[] = {
        {"not root",
         "setpriv --reuid=65534 --regid=65534 --clear-groups /tmp/site/setup --preview",
         "only root can lay"},
        {"missing top directory", "/tmp/site/setup --preview /tmp /nonexistent-top/x",
         "/nonexistent-top, the top directory of /nonexistent-top/x/Dorna/dpxx, does not exist"},
    };
    for (const auto &c : kCases) {
        e2e::Result r = box.Sh(std::string(c.script) + "; echo \"status=$?\"");
        EXPECT_TRUE(Contains(r.out, "status=2")) << c.name << ": " << r.out;
        EXPECT_TRUE(Contains(r.err, "ERROR: no preview can be made here: ")) << c.name;
        EXPECT_TRUE(Contains(r.err, c.why)) << c.name << ": " << r.err;
    }
    EXPECT_TRUE(box.Changes().empty());

    // Root without the right to mount, as in a container that withholds it.
    Box bare("preview-no-rights");
    e2e::Result r = bare.Run({"/tmp/site/setup", "--preview"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "ERROR: no preview can be made here: cannot make private mount "
                                "and PID namespaces"))
        << r.err;
    EXPECT_TRUE(bare.Changes().empty());
}
