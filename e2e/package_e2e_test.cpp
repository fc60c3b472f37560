// The installed package as a suite developer meets it: `cmake --install`
// into a scratch prefix, the layout it leaves, every public header compiled
// alone against it, find_package's version check, and examples/queue-menu
// built with CMake, with pkg-config and with a plain g++ line, then run on a
// terminal (tmux): the menu appears, values are set, 's' stores them.
#include "Sandbox.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::RunOptions;
using testsupport::RunProgram;

const std::string CMAKE = DORNA_CMAKE;
const std::string BUILD_DIR = DORNA_BUILD_DIR;
const std::string EXAMPLE = DORNA_EXAMPLE_DIR;

// The library's archives in link order, highest first: what a plain g++ line
// names after -L<prefix>/lib.
const std::vector<std::string> LIBS = {
    "dorna_help", "dorna_html",   "dorna_textmenu", "dorna_nls",   "dorna_nls_po", "dorna_nls_lang",
    "dorna_dbm",  "dorna_syscmd", "dorna_list",     "dorna_utils", "dorna_memory"};

// A program run to its end with DORNA_TOOL_ROOT removed from its
// environment (env may set it again), so that what it finds it finds by
// itself.
testsupport::ChildResult RunTool(const std::vector<std::string> &argv, const std::string &cwd = "",
                                 std::vector<std::string> env = {}) {
    RunOptions o;
    o.cwd = cwd;
    env.insert(env.begin(), "DORNA_TOOL_ROOT");
    o.env = env;
    o.timeoutSec = 240;
    return RunProgram(argv, o);
}

bool Have(const char *program) {
    return RunTool({"sh", "-c", std::string("command -v ") + program}).status == 0;
}

#define REQUIRE_PROGRAM(name)                                                                      \
    do {                                                                                           \
        if (!Have(name)) {                                                                         \
            if (e2e::UnderCI()) FAIL() << name << " is required under CI=true";                    \
            GTEST_SKIP() << name << " is not installed";                                           \
        }                                                                                          \
    } while (0)

// A scratch prefix with the package installed into it.
class Package : public ::testing::Test {
  protected:
    void SetUp() override {
        auto r = RunTool({CMAKE, "--install", BUILD_DIR, "--prefix", prefix()});
        ASSERT_EQ(r.status, 0) << r.out;
    }
    std::string prefix() const { return dir_ / "prefix"; }
    std::string work(const std::string &name) const { return dir_ / name; }

    testsupport::TempDir dir_{"package"};
};

TEST_F(Package, InstallsHeadersLibrariesToolRootToolsAndPackageFiles) {
    std::vector<std::string> expected = {"bin/dphelp",
                                         "bin/dpqsettings",
                                         "bin/nls_mkcatalog",
                                         "bin/xdb",
                                         "lib/cmake/Dorna/DornaConfig.cmake",
                                         "lib/cmake/Dorna/DornaConfigVersion.cmake",
                                         "lib/cmake/Dorna/DornaTargets.cmake",
                                         "lib/pkgconfig/dorna.pc",
                                         "share/dorna/trans.conf",
                                         "share/dorna/help/dpqsettings.html",
                                         "share/dorna/help/dpqsettings-files.html"};
    for (const std::string &lib : LIBS)
        expected.push_back("lib/lib" + lib + ".a");
    for (const char *lang : {"en_US", "ge_GE", "fr_FR", "it_IT", "es_ES", "pr_BR"})
        expected.push_back(std::string("share/dorna/db/") + lang + "/CoreString.xdb");
    for (const std::string &path : expected)
        EXPECT_TRUE(fs::is_regular_file(prefix() + "/" + path)) << path;

    std::string pc = testsupport::ReadFile(prefix() + "/lib/pkgconfig/dorna.pc");
    EXPECT_NE(pc.find("Version: 4.30.09\n"), std::string::npos) << pc;
}

TEST_F(Package, InstallsThePublicHeadersOnlyAndEachCompilesAlone) {
    const std::vector<std::string> publicHeaders = {
        "Dbm.h",     "DornaTool.h", "HelpTty.h", "List.h",     "MemMgr.h", "MenuRecords.h",
        "NlsLang.h", "NlsUtils.h",  "SysCmd.h",  "TextMenu.h", "html.h",   "utils.h"};
    std::vector<std::string> installed;
    for (const auto &e : fs::directory_iterator(prefix() + "/include/dorna"))
        installed.push_back(e.path().filename());
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, publicHeaders);
    // A header that needs a private one (or forgets an include) fails here.
    for (const std::string &h : installed) {
        SCOPED_TRACE(h);
        std::string source = work("alone.cpp");
        testsupport::WriteFile(source, "#include <dorna/" + h + ">\n");
        auto r = RunTool({"g++", "-std=c++20", "-Wall", "-Wextra", "-Wshadow", "-Werror",
                          "-fsyntax-only", "-I" + prefix() + "/include", source});
        EXPECT_EQ(r.status, 0) << r.out;
    }
}

TEST_F(Package, FindPackageTakesEveryVersionOfTheSameMajorUpToItsOwn) {
    std::string project = work("version");
    fs::create_directories(project);
    testsupport::WriteFile(project + "/CMakeLists.txt",
                           "cmake_minimum_required(VERSION 3.25)\n"
                           "project(v LANGUAGES NONE)\n"
                           "find_package(Dorna ${WANT} REQUIRED)\n"
                           "message(STATUS \"found ${Dorna_VERSION}\")\n");
    struct Row {
        const char *want;
        bool found;
    } rows[] = {{"4.30", true},  {"4", true},    {"4.30.09", true}, {"4.20", true},
                {"4.31", false}, {"5.0", false}, {"3.9", false}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.want);
        auto run = RunTool({CMAKE, "-S", project, "-B", project + "/build-" + r.want,
                            "-DCMAKE_PREFIX_PATH=" + prefix(), std::string("-DWANT=") + r.want});
        EXPECT_EQ(run.status == 0, r.found) << run.out;
        if (r.found) {
            EXPECT_NE(run.out.find("found 4.30.09"), std::string::npos) << run.out;
        }
    }
}

TEST_F(Package, EachTargetLinksWhatItsModuleNeeds) {
    // One program per target, calling into its module and linking that
    // target alone: whatever the module needs below it comes with it.
    struct Row {
        const char *target;
        const char *header;
        const char *body;
    } rows[] = {
        {"memory", "MemMgr.h", "PutMem(GetMem(10)); return 0;"},
        {"utils", "utils.h", "char *s = SaveStr(\"%d\", 4); PutMem(s); return 0;"},
        {"syscmd", "SysCmd.h", "return SysIsPlainWord(\"ls\") ? 0 : 1;"},
        {"list", "List.h", "return ListCreate() != nullptr ? 0 : 1;"},
        {"dbm", "Dbm.h", "DbT *db = DbTOpenPath(\"x.xdb\", 0); DbTClose(db); return 0;"},
        {"nls", "NlsUtils.h", "char *c = NlsLangFor(\"de\"); PutMem(c); return 0;"},
        {"textmenu", "TextMenu.h", "return ValidateEntryQuiet(\"5\", \"d(1,9)\");"},
        {"help", "HelpTty.h", "char *t = TtyHelpDefaultTitle(); PutMem(t); return 0;"},
        {"dorna", "DornaTool.h", "return DornaToolInit(\"t\", nullptr, \"C\") ? 0 : 1;"},
    };
    std::string project = work("targets");
    fs::create_directories(project);
    std::string lists = "cmake_minimum_required(VERSION 3.25)\nproject(t LANGUAGES CXX)\n"
                        "find_package(Dorna 4.30 REQUIRED)\n";
    for (const Row &r : rows) {
        std::string source = std::string("#include <dorna/MemMgr.h>\n#include <dorna/") + r.header +
                             ">\nint main() { " + r.body + " }\n";
        testsupport::WriteFile(project + "/" + r.target + ".cpp", source);
        lists += std::string("add_executable(use_") + r.target + " " + r.target + ".cpp)\n" +
                 "target_link_libraries(use_" + r.target + " PRIVATE Dorna::" + r.target + ")\n";
    }
    testsupport::WriteFile(project + "/CMakeLists.txt", lists);
    auto configure = RunTool(
        {CMAKE, "-S", project, "-B", project + "/build", "-DCMAKE_PREFIX_PATH=" + prefix()});
    ASSERT_EQ(configure.status, 0) << configure.out;
    auto build = RunTool({CMAKE, "--build", project + "/build", "-j2"});
    ASSERT_EQ(build.status, 0) << build.out;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.target);
        auto run = RunTool({project + "/build/use_" + std::string(r.target)}, project);
        EXPECT_EQ(run.status, 0) << run.out;
    }
}

TEST_F(Package, InstalledToolsFindTheirToolRootFromAnyDirectory) {
    // The tool root written into the installed programs, with nothing in the
    // environment to point there: the catalog's texts, not its keys.
    auto r = RunTool({prefix() + "/bin/dpqsettings", "--load", "/dev/null"}, "/");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("copies=1\n"), std::string::npos) << r.out;
    auto s = RunTool({prefix() + "/bin/dpqsettings", "--load", "/dev/null"}, "/",
                     {"DORNA_TOOL_ROOT=/nowhere"});
    EXPECT_NE(s.status, 0) << "DORNA_TOOL_ROOT still points elsewhere";
}

// The dialogue with a build of queue-menu in the directory dir: values
// typed, 's' stores them in .settings and ends the program; the next start
// shows them again.
void RunQueueMenu(const std::string &program, const std::string &dir, const std::string &xdb) {
    std::string line = "cd " + e2e::ShellQuote(dir) + " && env -u DORNA_TOOL_ROOT LANG=C " +
                       e2e::ShellQuote(program);
    {
        e2e::Terminal term(line, 80, 40);
        ASSERT_TRUE(term.Started());
        ASSERT_TRUE(term.WaitFor("Print queue settings:")) << term.Screen();
        for (const char *answer : {"1 lp-room4", "2 Room 4", "3 7", "4 3"}) {
            term.Type(answer);
            term.Press("Enter");
        }
        ASSERT_TRUE(term.WaitFor("[3. Legal]")) << term.Screen();
        term.Type("h");
        term.Press("Enter");
        EXPECT_TRUE(term.WaitFor("Settings of one print queue")) << term.Screen();
        term.Type("e");
        term.Press("Enter");
        ASSERT_TRUE(term.WaitFor("Print queue settings:")) << term.Screen();
        EXPECT_NE(term.Screen().find("Copies ............... [7]"), std::string::npos)
            << term.Screen();
        term.Type("s");
        term.Press("Enter");
        ASSERT_TRUE(term.WaitFor("[exited 0]")) << term.Screen();
    }
    EXPECT_EQ(testsupport::ReadFile(dir + "/.settings"),
              "1[lp-room4] 11 0\n2[Room 4] 12 0\n3[7] 13 0\n4[2] 9 0\n5[1] 9 0\n");
    auto note = RunTool({xdb, "get", "--text", dir + "/queues.xdb", "lp-room4"});
    EXPECT_EQ(note.out.find("Room 4"), 0u) << note.out;
    {
        e2e::Terminal term(line, 80, 40);
        ASSERT_TRUE(term.WaitFor("Copies ............... [7]")) << term.Screen();
        term.Type("x");
        term.Press("Enter");
        EXPECT_TRUE(term.WaitFor("[exited 0]")) << term.Screen();
    }
}

TEST_F(Package, TheExampleBuildsThreeWaysAndRunsOnATerminal) {
    REQUIRE_PROGRAM("tmux");
    REQUIRE_PROGRAM("pkg-config");
    std::string source = EXAMPLE + "/queue-menu.cpp";
    std::string pcPath = "PKG_CONFIG_PATH=" + prefix() + "/lib/pkgconfig";
    std::string plain = "g++ -std=c++20 -I" + prefix() + "/include -o queue-menu " + source +
                        " -L" + prefix() + "/lib";
    for (const std::string &lib : LIBS)
        plain += " -l" + lib;
    plain += " -lcrypt";
    struct Row {
        const char *name;
        std::vector<std::string> build; // shell lines run in the row's directory
    } rows[] = {
        {"cmake",
         {CMAKE + " -S " + EXAMPLE + " -B . -DCMAKE_PREFIX_PATH=" + prefix(),
          CMAKE + " --build ."}},
        {"pkg-config",
         {pcPath + " g++ -std=c++20 -o queue-menu " + source + " $(" + pcPath +
              " pkg-config --cflags --libs dorna)",
          "cp " + EXAMPLE + "/queue-menu.html ."}},
        {"plain", {plain, "cp " + EXAMPLE + "/queue-menu.html ."}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        std::string dir = work(r.name);
        fs::create_directories(dir);
        for (const std::string &step : r.build) {
            auto b = RunTool({"sh", "-c", step}, dir);
            ASSERT_EQ(b.status, 0) << step << "\n" << b.out;
        }
        ASSERT_TRUE(fs::exists(dir + "/queue-menu.html"));
        RunQueueMenu(dir + "/queue-menu", dir, prefix() + "/bin/xdb");
    }
}

} // namespace
