// The Ansible role on a fleet of four hosts: each a sandbox with its own
// sshd on a loopback port (e2e/fleet/fleet), driven by one real
// ansible-playbook run at a time against the example playbook.
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <unistd.h>

#include "Sandbox.h"

using e2e::Contains;

namespace {

const std::string kFleet = DORNA_FLEET_SCRIPT;
const std::string kPlaybook = DORNA_ANSIBLE_DIR "/site.yml";

// Empty when ansible-playbook and sshd are here, else what is missing.
std::string FleetToolsMissing() {
    if (e2e::RunHost({"sh", "-c", "command -v ansible-playbook"}).status != 0)
        return "ansible-playbook is not installed (Debian package ansible-core)";
    if (access("/usr/sbin/sshd", X_OK) != 0)
        return "sshd is not installed (Debian package openssh-server)";
    return "";
}

// One host's line of the play recap.
struct Recap {
    int ok = -1, changed = -1, unreachable = -1, failed = -1;
};

std::map<std::string, Recap> ReadRecap(const std::string &out) {
    std::map<std::string, Recap> hosts;
    std::regex line(
        R"((host\d+)\s*:\s*ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+))");
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
        Recap r;
        r.ok = std::stoi((*it)[2]);
        r.changed = std::stoi((*it)[3]);
        r.unreachable = std::stoi((*it)[4]);
        r.failed = std::stoi((*it)[5]);
        hosts[(*it)[1]] = r;
    }
    return hosts;
}

// Four hosts for the life of the object; stopped and removed by the
// destructor whatever the test's outcome.
class Fleet {
  public:
    Fleet() : dir_(std::string(e2e::ScratchDir()) + "/fleet-" + std::to_string(getpid())) {
        e2e::RunHost({kFleet, "down", dir_});
        up_ = e2e::RunHost(
            {kFleet, "up", dir_, "4", std::string("dorna_suite_site=") + e2e::SiteDir()}, "", 300);
    }
    ~Fleet() { Down(); }
    // Stops every host and removes its layers; again is harmless.
    e2e::Result Down() { return e2e::RunHost({kFleet, "down", dir_}, "", 120); }
    const std::string &Dir() const { return dir_; }
    Fleet(const Fleet &) = delete;
    Fleet &operator=(const Fleet &) = delete;

    const e2e::Result &Up() const { return up_; }
    // The host's upper layers, where what the runs changed shows.
    std::string Upper(int k) const { return dir_ + "/host" + std::to_string(k); }

    // One ansible-playbook run of the example playbook against the fleet.
    e2e::Result Play(const std::vector<std::string> &extra = {}) {
        std::vector<std::string> argv{"env",
                                      "ANSIBLE_NOCOLOR=1",
                                      "ANSIBLE_PIPELINING=1",
                                      "ANSIBLE_LOCAL_TEMP=" + dir_ + "/ansible-local",
                                      "ANSIBLE_SSH_CONTROL_PATH_DIR=" + dir_ + "/cp",
                                      "ANSIBLE_RETRY_FILES_ENABLED=0",
                                      "ansible-playbook",
                                      "-f",
                                      "4",
                                      "-i",
                                      dir_ + "/inventory.ini",
                                      kPlaybook};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return e2e::RunHost(argv, "", 1200);
    }

    // Runs a command on host k over its sshd.
    e2e::Result Ssh(int k, const std::string &command) {
        return e2e::RunHost({kFleet, "ssh", dir_, std::to_string(k), command});
    }

    // Gives host k an inventory variable of its own for later runs.
    void HostVar(int k, const std::string &nameValue) {
        std::string host = "host" + std::to_string(k) + " ";
        e2e::RunHost(
            {"sed", "-i", "s|^" + host + ".*|&" + " " + nameValue + "|", dir_ + "/inventory.ini"});
    }

    // Every path of host k's upper layers with its size and change time.
    std::string Snapshot(int k) {
        return e2e::RunHost({"sh", "-c",
                             "cd " + e2e::ShellQuote(Upper(k)) +
                                 " && find usr var etc -printf '%p %s %C@\\n' | sort"})
            .out;
    }

  private:
    std::string dir_;
    e2e::Result up_;
};

void ExpectWholeSuite(const Fleet &fleet, int k) {
    const std::string app = fleet.Upper(k) + "/usr/Dorna/dpxx";
    EXPECT_EQ(testsupport::Mode(app + "/dsf"), 04755) << k;
    EXPECT_EQ(testsupport::Mode(app + "/dprdpxxtty"), 04755) << k;
    EXPECT_EQ(testsupport::Mode(app + "/dpqadmin"), 0755) << k;
    EXPECT_EQ(testsupport::Mode(app + "/DornaPrintdpxx"), 0755) << k;
    EXPECT_FALSE(e2e::ReadHostFile(app + "/.dp_cfg").empty()) << k;
    EXPECT_EQ(testsupport::Mode(fleet.Upper(k) + "/var/spool/Dorna"), 0775) << k;
}

std::string Report(const Fleet &fleet, int k) {
    return e2e::ReadHostFile(fleet.Upper(k) + "/var/lib/dorna_suite/report.json");
}

} // namespace

TEST(Fleet, RoleInstallsOnFourHostsOverSshAndIsIdempotent) {
    DORNA_REQUIRE_SANDBOX();
    const std::string missing = FleetToolsMissing();
    if (!missing.empty()) {
        if (e2e::UnderCI()) FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    Fleet fleet;
    ASSERT_EQ(fleet.Up().status, 0) << fleet.Up().out << fleet.Up().err;

    // 1. One run installs on all four.
    e2e::Result r = fleet.Play();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::map<std::string, Recap> recap = ReadRecap(r.out);
    ASSERT_EQ(recap.size(), 4u) << r.out;
    std::map<int, std::string> reports;
    for (int k = 1; k <= 4; ++k) {
        const Recap &h = recap["host" + std::to_string(k)];
        EXPECT_EQ(h.failed, 0) << k << r.out;
        EXPECT_EQ(h.unreachable, 0) << k;
        EXPECT_GE(h.changed, 1) << k;
        ExpectWholeSuite(fleet, k);
        reports[k] = Report(fleet, k);
        EXPECT_TRUE(Contains(reports[k], "{\"status\": 0, ")) << k << reports[k];
        EXPECT_TRUE(Contains(reports[k], "\"changed\": true")) << k << reports[k];
        // The copied site is gone again.
        EXPECT_EQ(fleet.Ssh(k, "ls -d /tmp/*dorna_suite* 2>/dev/null; true").out, "") << k;
    }

    // 2. The same run again changes nothing and runs no setup: the reports
    // are the ones of the first run.
    r = fleet.Play();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    recap = ReadRecap(r.out);
    ASSERT_EQ(recap.size(), 4u) << r.out;
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(recap["host" + std::to_string(k)].changed, 0) << k << r.out;
        EXPECT_EQ(recap["host" + std::to_string(k)].failed, 0) << k << r.out;
        EXPECT_EQ(Report(fleet, k), reports[k]) << k;
    }

    // 3. Host 4 is to install onto its 1 MiB file system, which lacks the
    // room: it fails with the installer's message; the others are ok and
    // nothing of theirs changes.
    std::map<int, std::string> before;
    for (int k = 1; k <= 3; ++k)
        before[k] = fleet.Snapshot(k);
    fleet.HostVar(4, "dorna_suite_install_root=/var/small");
    r = fleet.Play();
    EXPECT_NE(r.status, 0) << r.out;
    recap = ReadRecap(r.out);
    ASSERT_EQ(recap.size(), 4u) << r.out;
    EXPECT_EQ(recap["host4"].failed, 1) << r.out;
    EXPECT_TRUE(Contains(r.out, "There isn't enough space in /var/small")) << r.out;
    EXPECT_TRUE(Contains(Report(fleet, 4), "{\"status\": 1, ")) << Report(fleet, 4);
    EXPECT_TRUE(Contains(Report(fleet, 4), "\"changed\": false")) << Report(fleet, 4);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(recap["host" + std::to_string(k)].failed, 0) << k;
        EXPECT_EQ(recap["host" + std::to_string(k)].changed, 0) << k;
        EXPECT_EQ(fleet.Snapshot(k), before[k]) << k;
    }

    // 4. A suite program runs on host 3 and setup may wait 2 seconds.
    r = fleet.Ssh(3, "cp /bin/sleep /tmp/dprint && (setsid /tmp/dprint 600 </dev/null >/dev/null "
                     "2>&1 &) && " +
                         e2e::WaitForProcess("dprint"));
    ASSERT_EQ(r.status, 0) << r.err;
    r = fleet.Play({"-l", "host3", "-e", "dorna_suite_force=true", "-e", "dorna_suite_wait=2"});
    recap = ReadRecap(r.out);
    EXPECT_EQ(recap["host3"].failed, 1) << r.out;
    EXPECT_TRUE(Contains(r.out, "programs of the suite still run after 2 seconds: dprint ( "))
        << r.out;

    // 5. Every host is stopped and its layers are gone.
    r = fleet.Down();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(testsupport::Exists(fleet.Dir()));
    r = e2e::RunHost({"pgrep", "-f", fleet.Dir()});
    EXPECT_EQ(r.out, "") << "still running: " << r.out;
}
