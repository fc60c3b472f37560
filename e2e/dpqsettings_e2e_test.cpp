// The queue-settings tool on a real terminal (tmux): answers typed, the
// screen read back, and the files it writes.
#include "Sandbox.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Program() {
    return DPQSETTINGS_PATH;
}

// A scratch directory of this test, removed afterwards. Its path holds only
// letters, digits, '-', '_' and '/', as a settings file name typed after 's'
// must.
struct Scratch : testsupport::TempDir {
    Scratch() : TempDir("dpqsettings") {}
};

// dpqsettings on a terminal of its own, applying into dir.
struct Menu {
    e2e::Terminal term;
    explicit Menu(const std::string &dir, const std::string &args = "")
        : term("DORNA_TOOL_ROOT=" + e2e::ShellQuote(DORNA_TOOL_ROOT_DIR) + " " +
                   e2e::ShellQuote(Program()) + " --dir " + e2e::ShellQuote(dir) + " " + args,
               80, 24) {}
    // Types an answer and presses <Return>.
    void Answer(const std::string &text) {
        if (!text.empty()) term.Type(text);
        term.Press("Enter");
    }
    bool Shows(const std::string &text) { return term.WaitFor(text, 10000); }
    // Waits until text has left the screen, so that a prompt still shown
    // from before an answer is not taken for the next one.
    bool Leaves(const std::string &text) {
        for (int i = 0; i < 100; i++) {
            if (term.Screen().find(text) == std::string::npos) return true;
            usleep(100 * 1000);
        }
        return false;
    }
    bool Prompt() {
        return Shows("Enter your choice or s for store settings in a file or h for help");
    }
};

// A line of the main page: key, text, dots up to the longest text (23
// characters) and the value; key 0 for a disabled item.
std::string Row(int key, const std::string &text, const std::string &value, size_t width = 23) {
    char head[16];
    if (key > 0)
        snprintf(head, sizeof head, "%2d) ", key);
    else
        snprintf(head, sizeof head, "    ");
    std::string dots = text.size() < width ? std::string(width - text.size(), '.') : "";
    return head + text + " " + dots + " [" + value + "]";
}

bool HaveTmux() {
    return e2e::RunHost({"sh", "-c", "command -v tmux"}).status == 0;
}

#define REQUIRE_TMUX()                                                                             \
    do {                                                                                           \
        if (!HaveTmux()) {                                                                         \
            if (e2e::UnderCI()) FAIL() << "tmux is required under CI=true";                        \
            GTEST_SKIP() << "tmux is not installed";                                               \
        }                                                                                          \
    } while (0)

// One step of a dialogue with the menu: an answer typed and sent with
// <Return>, a key pressed, a text waited for on the screen, or a text that
// must not be on it.
struct Step {
    enum Kind { Answer, Press, Shows, Absent } kind;
    std::string text;
};

Step Say(const std::string &text) {
    return {Step::Answer, text};
}
Step Key(const std::string &key) {
    return {Step::Press, key};
}
Step See(const std::string &text) {
    return {Step::Shows, text};
}
Step NotSeen(const std::string &text) {
    return {Step::Absent, text};
}
const Step kPrompt = See("Enter your choice or s for store settings in a file or h for help");

// A whole session, from the first page on, and what it leaves in the
// directory it applies into.
struct Dialogue {
    std::string name;
    std::vector<Step> steps;
    bool leavesNothing;                 // the directory stays empty
    std::string file;                   // else this file of it ...
    std::vector<std::string> fileHolds; // ... holds these lines
};

void PrintTo(const Dialogue &d, std::ostream *os) {
    *os << d.name;
}

std::vector<Dialogue> Dialogues() {
    return {
        {"AStateNumberAfterAPickItemChoosesThatState",
         // The custom width is for custom paper only: shown without a number.
         {kPrompt, See(Row(0, "Custom paper width (mm)", "210")), Say("5 6"),
          See(Row(5, "Paper size", "6. Custom")), See(Row(6, "Custom paper width (mm)", "210")),
          Say("5"), See(Row(5, "Paper size", "1. A4")),
          Say("6 300"), // the width is disabled again: nothing chosen
          kPrompt, See(Row(0, "Custom paper width (mm)", "210"))},
         false,
         "",
         {}},
        {"StateFormatsSetAndRestoreOtherItems",
         {kPrompt, Say("8 3"), See(Row(8, "Print quality", "3. Best")), Say("9 2"),
          See(Row(8, "Print quality", "1. Draft")), See(Row(9, "Toner saver", "2. On")), Say("9"),
          See(Row(8, "Print quality", "3. Best"))},
         false,
         "",
         {}},
        {"ASubmenuIsChosenByTheBannerKind",
         {kPrompt, NotSeen("banner page "), Say("10 3"), See("11) Custom banner page"), Say("10 2"),
          See("11) Standard banner page"), Say("11"), See("Standard banner page:"),
          Say("1 Welcome"), See("[Welcome]"), Say(""),
          See("Do you want to return to Print queue settings menu? [y/n]"), Say("y"),
          See("Print queue settings:"),
          Say("11"), // what the submenu was left with is still there
          See("[Welcome]")},
         false,
         "",
         {}},
        {"RefusedValuesShowWhy",
         {kPrompt, Say("3 1000"), See("This number must be between 1 to 999."),
          See("Press <Return> to continue"), Say(""), Say("1 lp 0"), See("Invalid character ' '"),
          Say(""), Say("4 1,5"), See("Invalid character ','"), Say(""), kPrompt,
          See(Row(3, "Copies", "1")), See(Row(1, "Queue name", ""))},
         false,
         "",
         {}},
        {"LeavingWithoutChangesAsksOnlyWhetherToExit",
         {kPrompt, Say(""), See("Do you want to exit dpqsettings? [y/n]"),
          NotSeen("Apply the changes"), Say("n"), kPrompt, Say(""), Say("y"), See("[exited 0]")},
         true,
         "",
         {}},
        {"LeavingWithChangesAsksToApplyAndWritesTheQueueFile",
         {kPrompt, Say("3 2"), Say(""), See("Apply the changes to the queue? [y/n]"),
          Say("y"), // no queue name yet: refused, the menu stays
          See("All names must be set before applying setup."), Say(""), Say("1 lp0"), Say(""),
          See("Apply the changes to the queue? [y/n]"), Say("y"),
          See("Settings of queue lp0 written to /tmp/dpqsettings-"), Say(""), See("[exited 0]")},
         false,
         "lp0.settings",
         {"1[lp0] 11 0", "3[2] 13 0"}},
        {"DecliningTheApplyQuestionWritesNothing",
         {kPrompt, Say("1 lp0"), Say(""), See("Apply the changes to the queue? [y/n]"), Say("n"),
          See("Do you want to exit dpqsettings? [y/n]"), Say("y"), See("[exited 0]")},
         true,
         "",
         {}},
        {"HelpShowsItsOwnHelpFileOnH",
         // The help page is taller than the screen: q leads to its links.
         {kPrompt, Say("h"), See("--More--"), Key("q"), See(" 1) The items of the menu"), Say("2"),
          See("Type one answer and press Return:"), See("--More--"), Key("q"), Say("e"), kPrompt},
         false,
         "",
         {}},
        {"EndOfInputEndsTheProgram",
         {kPrompt, Key("C-d"), See("[exited 1]"), See("dpqsettings: reading from standard input")},
         false,
         "",
         {}},
    };
}

class DpqSettingsDialogue : public ::testing::TestWithParam<Dialogue> {};

TEST_P(DpqSettingsDialogue, GoesAsScripted) {
    REQUIRE_TMUX();
    const Dialogue &d = GetParam();
    Scratch dir;
    Menu m(dir.path);
    for (size_t i = 0; i < d.steps.size(); ++i) {
        const Step &step = d.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1) + ": " + step.text);
        switch (step.kind) {
        case Step::Answer:
            m.Answer(step.text);
            break;
        case Step::Press:
            m.term.Press(step.text);
            break;
        case Step::Shows:
            ASSERT_TRUE(m.Shows(step.text)) << m.term.Screen();
            break;
        case Step::Absent:
            ASSERT_EQ(m.term.Screen().find(step.text), std::string::npos) << m.term.Screen();
            break;
        }
    }
    if (d.leavesNothing) {
        EXPECT_TRUE(std::filesystem::is_empty(dir.path));
    }
    if (!d.file.empty()) {
        std::vector<std::string> lines = testsupport::Lines(e2e::ReadHostFile(dir / d.file));
        for (const std::string &line : d.fileHolds)
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(DpqSettings, DpqSettingsDialogue, ::testing::ValuesIn(Dialogues()),
                         [](const ::testing::TestParamInfo<Dialogue> &p) { return p.param.name; });

TEST(DpqSettings, ItemsAreChosenByNumberAndByLetterInEitherCase) {
    REQUIRE_TMUX();
    Scratch dir;
    Menu m(dir.path);
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    EXPECT_TRUE(m.Shows(Row(3, "Copies", "1"))) << m.term.Screen();
    m.Answer("3 4");
    ASSERT_TRUE(m.Shows(Row(3, "Copies", "4"))) << m.term.Screen();
    m.Answer("3");
    ASSERT_TRUE(m.Shows("Number of copies (1 to 999):")) << m.term.Screen();
    m.Answer("12");
    ASSERT_TRUE(m.Shows(Row(3, "Copies", "12"))) << m.term.Screen();
    m.Answer("X");
    EXPECT_TRUE(m.Shows("[exited 0]")) << m.term.Screen();

    Menu again(dir.path);
    ASSERT_TRUE(again.Prompt());
    again.Answer("x");
    EXPECT_TRUE(again.Shows("[exited 0]")) << again.term.Screen();
}

TEST(DpqSettings, StoredSettingsLoadAgain) {
    REQUIRE_TMUX();
    Scratch dir;
    std::string file = dir.path + "/office_settings";
    {
        Menu m(dir.path);
        ASSERT_TRUE(m.Prompt()) << m.term.Screen();
        m.Answer("1 lp0");
        m.Answer("5 2");
        m.Answer("4 0.5");
        m.Answer("10 3");
        m.Answer("11");
        ASSERT_TRUE(m.Shows("Custom banner page:")) << m.term.Screen();
        m.Answer("2 20");
        m.Answer("");
        m.Answer("y");
        ASSERT_TRUE(m.Prompt());
        m.Answer("s");
        ASSERT_TRUE(m.Shows("Enter the settings file name:")) << m.term.Screen();
        m.Answer(file);
        ASSERT_TRUE(m.Prompt());
        m.Answer("x");
        ASSERT_TRUE(m.Shows("[exited 0]")) << m.term.Screen();
    }
    EXPECT_EQ(
        e2e::ReadHostFile(file),
        "1[lp0] 11 0\n2[] 12 0\n3[1] 13 0\n4[0.500] 14 0\n5[1] 9 0\n6[210] 13 1\n"
        "7[1] 10 0\n8[1] 9 0\n9[0] 9 0\n10[2] 9 0\n12[3] 10 0\n11{\n0[] 12 0\n1[20] 13 0\n}\n");

    e2e::Result r = e2e::RunHost(
        {"env", std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR, Program(), "--load", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "name=lp0\nlocation=\ncopies=1\nscale=0.500\npaper=Letter\nwidth=210\nfinishing=None\n"
        "quality=Normal\ntoner=Off\nbanner=Custom\ntrays=A3,A4\nbanner.file=\nbanner.lines=20\n");

    Menu again(dir.path, e2e::ShellQuote(file));
    ASSERT_TRUE(again.Prompt()) << again.term.Screen();
    EXPECT_TRUE(again.Shows(Row(1, "Queue name", "lp0"))) << again.term.Screen();
    EXPECT_TRUE(again.Shows(Row(5, "Paper size", "2. Letter"))) << again.term.Screen();
    again.Answer("11");
    EXPECT_TRUE(again.Shows(Row(2, "Banner lines", "20", 12))) << again.term.Screen();
}

// A settings file without a block for a submenu leaves that submenu its own
// defaults: the custom banner's 10 lines, not the zero of a submenu that
// had never run.
TEST(DpqSettings, ASubmenuTheFileDoesNotHoldKeepsItsDefaults) {
    REQUIRE_TMUX();
    Scratch dir;
    std::string file = dir.path + "/plain_settings";
    testsupport::WriteFile(file, "1[q1] 11 0\n3[2] 13 0\n");
    Menu m(dir.path, e2e::ShellQuote(file));
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    EXPECT_TRUE(m.Shows(Row(3, "Copies", "2"))) << m.term.Screen();
    m.Answer("10 3");
    m.Answer("11");
    ASSERT_TRUE(m.Shows("Custom banner page:")) << m.term.Screen();
    EXPECT_TRUE(m.Shows(Row(2, "Banner lines", "10", 12))) << m.term.Screen();
}

// The trays item (12) holds forty paper sizes, A0 to A2 (5 to 7) and
// Envelope B4 (33) hidden; A3 and A4 are chosen to begin with.
TEST(DpqSettings, TheFullScreenListTogglesRefusesAndSaves) {
    REQUIRE_TMUX();
    Scratch dir;
    Menu m(dir.path);
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    m.Answer("12");
    ASSERT_TRUE(m.Shows("Tray paper sizes")) << m.term.Screen();
    ASSERT_TRUE(m.Shows("Current selection: A3 A4")) << m.term.Screen();
    std::string page = m.term.Screen();
    EXPECT_NE(page.find(" ->  1) A3"), std::string::npos) << page;
    EXPECT_NE(page.find("40) Banner 210x900"), std::string::npos)
        << "80 x 24 shows every size at once: " << page;
    EXPECT_EQ(page.find(") A0"), std::string::npos) << "a hidden size has no number: " << page;
    EXPECT_NE(page.find("A0"), std::string::npos);
    m.Answer("1,3");
    ASSERT_TRUE(m.Shows("Current selection: A4 A5")) << m.term.Screen();
    m.Answer("1");
    ASSERT_TRUE(m.Shows("Current selection: A3 A4 A5")) << m.term.Screen();
    m.Answer("41"); // above the count: nothing changes
    m.Answer("5");  // A0 is hidden: refused
    m.Answer("8");
    ASSERT_TRUE(m.Shows("Current selection: A3 A4 A5 B4")) << m.term.Screen();
    m.Answer("s");
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    m.Answer("1 lp0");
    m.Answer("a");
    ASSERT_TRUE(m.Shows("Settings of queue lp0 written to")) << m.term.Screen();
}

TEST(DpqSettings, OnASmallTerminalTheListPagesAndCancelRestores) {
    REQUIRE_TMUX();
    Scratch dir;
    e2e::Terminal term("DORNA_TOOL_ROOT=" + e2e::ShellQuote(DORNA_TOOL_ROOT_DIR) + " " +
                           e2e::ShellQuote(Program()) + " --dir " + e2e::ShellQuote(dir.path),
                       40, 20);
    auto answer = [&](const std::string &text) {
        if (!text.empty()) term.Type(text);
        term.Press("Enter");
    };
    // The menu is taller than 20 rows: q at its --More-- leads to the prompt.
    auto menu = [&] {
        if (!term.WaitFor("--More--")) return false;
        term.Type("q");
        return term.WaitFor("Enter your choice");
    };
    ASSERT_TRUE(menu()) << term.Screen();
    answer("12");
    // 20 rows leave 14 for the sizes: two columns fit 40 characters.
    ASSERT_TRUE(term.WaitFor("28) Postcard")) << term.Screen();
    EXPECT_EQ(term.Screen().find("29) Double Postcard"), std::string::npos) << term.Screen();
    answer("2,4");
    ASSERT_TRUE(term.WaitFor("Current selection: A3 A6")) << term.Screen();
    answer(""); // the next page
    ASSERT_TRUE(term.WaitFor("40) Banner 210x900")) << term.Screen();
    answer("34");
    ASSERT_TRUE(term.WaitFor("Current selection: A3 A6 Envelope C3")) << term.Screen();
    answer("33"); // hidden: refused
    answer("");   // after the last page, the first again
    ASSERT_TRUE(term.WaitFor(" 1) A3")) << term.Screen();
    EXPECT_TRUE(term.WaitFor("Current selection: A3 A6 Envelope C3")) << term.Screen();
    answer("c");
    ASSERT_TRUE(menu()) << term.Screen();
    answer("12");
    ASSERT_TRUE(term.WaitFor("Current selection: A3 A4"))
        << "cancel did not restore the start: " << term.Screen();
    answer("s");
    ASSERT_TRUE(menu()) << term.Screen();
}

TEST(DpqSettings, ALockedQueueIsAppliedOnlyWithItsPassPhrase) {
    REQUIRE_TMUX();
    Scratch dir;
    // The lock value of "open sesame", as an administrator makes it.
    e2e::Result value = e2e::RunHost(
        {"sh", "-c",
         "printf 'open sesame\\n' | setsid " + e2e::ShellQuote(Program()) + " --passphrase-value"});
    ASSERT_EQ(value.status, 0) << value.err;
    EXPECT_NE(value.err.find("Pass phrase: "), std::string::npos) << value.err;
    ASSERT_EQ(value.out.rfind("$y$", 0), 0u) << value.out;
    e2e::RunHost({"sh", "-c",
                  "printf '%s' " + e2e::ShellQuote(value.out) + " > " +
                      e2e::ShellQuote(dir.path + "/lp0.lock")});

    Menu m(dir.path);
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    m.Answer("1 lp0");
    m.Answer("a");
    ASSERT_TRUE(m.Shows("Pass phrase of queue lp0:")) << m.term.Screen();
    m.Answer("let me in");
    ASSERT_TRUE(m.Shows("Wrong pass phrase: the settings of queue lp0 were not applied."))
        << m.term.Screen();
    EXPECT_EQ(m.term.Screen().find("let me in"), std::string::npos) << "the pass phrase was shown";
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/lp0.settings"));
    m.Answer("");
    ASSERT_TRUE(m.Leaves("Wrong pass phrase")) << m.term.Screen();
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    m.Answer("a");
    ASSERT_TRUE(m.Shows("Pass phrase of queue lp0:")) << m.term.Screen();
    m.Answer("open sesame");
    ASSERT_TRUE(m.Shows("Settings of queue lp0 written to")) << m.term.Screen();
    EXPECT_EQ(m.term.Screen().find("open sesame"), std::string::npos)
        << "the pass phrase was shown";
    EXPECT_TRUE(std::filesystem::exists(dir.path + "/lp0.settings"));
}

// Locks of the older, linear form ("tbfqet12" opens the lock of "secret12")
// still open with their phrase and are made anew by the next
// --passphrase-value of that phrase; a new lock opens with its phrase only.
// A lock that is not a file the user can read keeps the queue locked, and
// a FIFO there does not hang the apply.
TEST(DpqSettings, PassPhraseLocksAreSaltedHashesAndUnreadableLocksStayLocked) {
    REQUIRE_TMUX();
    Scratch dir;
    const std::string d = dir.path;
    auto write = [](const std::string &path, const std::string &text) {
        e2e::RunHost(
            {"sh", "-c", "printf '%s' " + e2e::ShellQuote(text) + " > " + e2e::ShellQuote(path)});
    };
    // The older value of "secret12" (and of "tbfqet12"), in two locks and a
    // third of another phrase.
    write(d + "/lp0.lock", "00003CB0000002E9\n");
    write(d + "/lp1.lock", "00003CB0000002E9\n");
    write(d + "/lp2.lock", "0000056400000126\n");
    chmod((d + "/lp1.lock").c_str(), 0640);
    // Applies queue `queue` with `phrase`; true when the settings were written.
    auto apply = [&](const std::string &queue, const std::string &phrase) {
        unlink((d + "/" + queue + ".settings").c_str());
        Menu m(d);
        EXPECT_TRUE(m.Prompt()) << m.term.Screen();
        m.Answer("1 " + queue);
        m.Answer("a");
        EXPECT_TRUE(m.Shows("Pass phrase of queue " + queue + ":")) << m.term.Screen();
        m.Answer(phrase);
        // "Settings of queue q written to ..." or "... of queue q were not applied."
        EXPECT_TRUE(m.Shows("of queue " + queue + " w")) << m.term.Screen();
        return std::filesystem::exists(d + "/" + queue + ".settings");
    };
    EXPECT_TRUE(apply("lp0", "tbfqet12")) << "the old form is kept as it was";

    e2e::Result value =
        e2e::RunHost({"sh", "-c",
                      "printf 'secret12\\n' | setsid " + e2e::ShellQuote(Program()) + " --dir " +
                          e2e::ShellQuote(d) + " --passphrase-value"});
    ASSERT_EQ(value.status, 0) << value.err;
    ASSERT_EQ(value.out.rfind("$y$", 0), 0u) << value.out;
    for (const char *lock : {"lp0", "lp1"}) {
        std::string path = d + "/" + lock + ".lock";
        EXPECT_EQ(testsupport::ReadFile(path), value.out) << lock;
        EXPECT_NE(value.err.find("dpqsettings: the lock " + path + " now holds the new value"),
                  std::string::npos)
            << value.err;
    }
    EXPECT_EQ(testsupport::Mode(d + "/lp1.lock"), 0640) << "the lock keeps its mode";
    EXPECT_EQ(testsupport::ReadFile(d + "/lp2.lock"), "0000056400000126\n");

    EXPECT_FALSE(apply("lp0", "tbfqet12"));
    EXPECT_TRUE(apply("lp0", "secret12"));

    // Not a file to read: locked, said so at once, without a prompt.
    mkfifo((d + "/lp3.lock").c_str(), 0644);
    mkdir((d + "/lp4.lock").c_str(), 0755);
    symlink((d + "/nowhere").c_str(), (d + "/lp5.lock").c_str());
    for (const char *queue : {"lp3", "lp4", "lp5"}) {
        Menu m(d);
        ASSERT_TRUE(m.Prompt()) << m.term.Screen();
        m.Answer(std::string("1 ") + queue);
        m.Answer("a");
        // (where the terminal breaks the message depends on the path)
        EXPECT_TRUE(m.Shows("/" + std::string(queue) + ".lock cannot be read:")) << m.term.Screen();
        EXPECT_TRUE(m.Shows(std::string(queue) + " were not applied.")) << m.term.Screen();
        EXPECT_EQ(m.term.Screen().find("Pass phrase of queue"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(d + "/" + queue + ".settings")) << queue;
    }
}

// A link at the queue's settings file lends the written file nothing: not
// the owner and mode 0666 of another user's file, not the 4755 of a root
// program. The link is refused and named.
TEST(DpqSettings, ApplyRefusesALinkAtTheSettingsFile) {
    REQUIRE_TMUX();
    Scratch dir;
    const std::string d = dir.path;
    struct Case {
        const char *name;
        std::string target;
        const char *mode;
    } cases[] = {
        {"another user's file", d + "/nbfile", "666"},
        {"a set-user-ID program", d + "/passwd", "4755"},
    };
    for (const Case &c : cases) {
        e2e::RunHost({"sh", "-c",
                      "printf old > \"$0\" && chown 65534 \"$0\" 2>/dev/null; chmod " +
                          std::string(c.mode) +
                          " \"$0\"; "
                          "rm -f \"$1\" && ln -s \"$0\" \"$1\"",
                      c.target, d + "/lp0.settings"});
        struct stat before {};
        ASSERT_EQ(stat(c.target.c_str(), &before), 0) << c.name;
        Menu m(d);
        EXPECT_TRUE(m.Prompt()) << m.term.Screen();
        m.Answer("1 lp0");
        m.Answer("a");
        EXPECT_TRUE(m.Shows("Could not write " + d + "/lp0.settings")) << c.name << "\n"
                                                                       << m.term.Screen();
        struct stat after {
        }, link{};
        ASSERT_EQ(stat(c.target.c_str(), &after), 0) << c.name;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
        EXPECT_EQ(after.st_uid, before.st_uid) << c.name;
        EXPECT_EQ(e2e::ReadHostFile(c.target), "old") << c.name;
        ASSERT_EQ(lstat((d + "/lp0.settings").c_str(), &link), 0) << c.name;
        EXPECT_TRUE(S_ISLNK(link.st_mode)) << c.name;
    }
}

TEST(DpqSettings, LoadPrintsTheValuesAndRefusesWhatItCannotRead) {
    Scratch dir;
    std::string root = std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR;
    std::string file = dir.path + "/q.settings";
    e2e::RunHost(
        {"sh", "-c",
         "printf '1[q1] 11 0\\n3[7] 13 0\\n9[1] 9 0\\n42[1] 13 0\\n' > " + e2e::ShellQuote(file)});
    e2e::Result r = e2e::RunHost({"env", root, Program(), "--load", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "name=q1\nlocation=\ncopies=7\nscale=1.000\npaper=A4\nwidth=210\nfinishing=None\n"
              "quality=Draft\ntoner=On\nbanner=None\ntrays=A3,A4\n"); // the toner saver sets draft

    r = e2e::RunHost({"env", root, Program(), "--load", dir.path + "/missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("dpqsettings: cannot read the settings file " + dir.path + "/missing"),
              std::string::npos)
        << r.err;

    r = e2e::RunHost({"env", root, Program(), "--bogus"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown option --bogus"), std::string::npos);
    r = e2e::RunHost({"env", root, Program(), "--load"});
    EXPECT_EQ(r.status, 2);
    r = e2e::RunHost({"env", root, Program(), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: dpqsettings"), std::string::npos);
    r = e2e::RunHost({"env", "DORNA_TOOL_ROOT=" + dir.path, Program(), "--load", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not open English database"), std::string::npos) << r.err;
}

// Pick-many choices and texts with blanks survive store, apply and load:
// Finishing is chosen on the full-screen list, where None and the others
// exclude each other.
// Words are read in order: help asked for before a mistake wins over it, and
// the first mistake is the one reported.
TEST(DpqSettings, TheFirstWordAtFaultIsReported) {
    std::string root = std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR;
    struct {
        const char *name;
        std::vector<std::string> words;
        int status;
        const char *err; // the first line of standard error
    } cases[] = {
        {"help before a mistake", {"--help", "--bogus"}, 0, ""},
        {"a mistake before help", {"--bogus", "-h"}, 2, "dpqsettings: unknown option --bogus"},
        {"two files before help",
         {"a", "b", "--help"},
         2,
         "dpqsettings: more than one settings file"},
        {"-- is no option", {"--", "a"}, 2, "dpqsettings: unknown option --"},
        {"a value missing", {"a", "--dir"}, 2, "dpqsettings: --dir needs a value"},
        {"a value like an option",
         {"--load", "--help", "a"},
         2,
         "dpqsettings: --load takes the only settings file"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv = {"env", root, Program()};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        e2e::Result r = e2e::RunHost(argv);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err) << c.name;
        EXPECT_NE((c.status == 0 ? r.out : r.err).find("Usage: dpqsettings"), std::string::npos)
            << c.name;
    }
}

TEST(DpqSettings, FinishingAndALocationWithBlanksAreKeptByApply) {
    REQUIRE_TMUX();
    Scratch dir;
    Menu m(dir.path);
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    EXPECT_TRUE(m.Shows("Location (letters, digits, blanks and - _ / .)") ||
                m.term.Screen().find("Location") != std::string::npos);
    m.Answer("2 Room 101");
    ASSERT_TRUE(m.Shows(Row(2, "Location", "Room 101"))) << m.term.Screen();
    m.Answer("7");
    ASSERT_TRUE(m.Shows("Current selection: None")) << m.term.Screen();
    m.Answer("3");
    ASSERT_TRUE(m.Shows("Current selection: Punch")) << "None is cleared: " << m.term.Screen();
    m.Answer("2");
    ASSERT_TRUE(m.Shows("Current selection: Staple Punch")) << m.term.Screen();
    m.Answer("1");
    ASSERT_TRUE(m.Shows("Current selection: None"))
        << "None clears the others: " << m.term.Screen();
    m.Answer("3");
    ASSERT_TRUE(m.Shows("Current selection: Punch")) << m.term.Screen();
    m.Answer("s");
    ASSERT_TRUE(m.Prompt()) << m.term.Screen();
    m.Answer("1 lab3");
    m.Answer("a");
    ASSERT_TRUE(m.Shows("Settings of queue lab3 written to")) << m.term.Screen();
    m.Answer("");
    ASSERT_TRUE(m.Shows("[exited 0]")) << m.term.Screen();

    std::string file = dir.path + "/lab3.settings";
    std::vector<std::string> lines = testsupport::Lines(e2e::ReadHostFile(file));
    for (const char *line : {"2[Room 101] 12 0", "7[4] 10 0", "12[3] 10 0"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    e2e::Result r = e2e::RunHost(
        {"env", std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR, Program(), "--load", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("location=Room 101\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("finishing=Punch\n"), std::string::npos) << r.out;
}

// --load of hostile lines: each is refused with its line number, the item
// keeps its default, and nothing but printable text reaches the output.
TEST(DpqSettings, LoadRefusesWhatItemsDoNotAccept) {
    Scratch dir;
    struct Case {
        const char *name;
        std::string line;
        const char *shown; // the --load line that must show (the default when refused)
        bool refused;
    } cases[] = {
        {"queue name outside the directory", "1[../../../../tmp/evil] 11 0", "name=\n", true},
        {"copies far too many", "3[99999999] 13 0", "copies=1\n", true},
        {"width negative", "6[-5] 13 0", "width=210\n", true},
        {"scale NaN", "4[nan] 14 0", "scale=1.000\n", true},
        {"copies turned into a pick item", "3[2] 9 0", "copies=1\n", true},
        {"location with ESC", "2[\x1b[31mred] 12 0", "location=\n", true},
        {"location with OSC 52", "2[\x1b]52;c;ZXZpbA==\x07] 12 0", "location=\n", true},
        {"finishing beyond its states", "7[16] 10 0", "finishing=None\n", true},
        {"trays hidden size A0", "12[16] 10 0", "trays=A3,A4\n", true},
        {"trays Banner 210x900", "12[549755813888] 10 0", "trays=Banner 210x900\n", false},
        {"location with blanks", "2[Room 101] 12 0", "location=Room 101\n", false},
        {"finishing staple and fold", "7[10] 10 0", "finishing=Staple,Fold\n", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = dir.path + "/q.settings";
        testsupport::WriteFile(file, "# a line of its own\n" + c.line + "\n");
        e2e::Result r = e2e::RunHost({"env", std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR,
                                      Program(), "--load", file});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("dpqsettings: " + file + ", line 1: "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(", line 2: ") != std::string::npos, c.refused) << r.err;
        for (char ch : r.out + r.err)
            EXPECT_FALSE(ch == '\x1b' || ch == '\x07') << "a control character reached the output";
    }
}

// Applying never writes outside the queue directory, whatever the file says.
TEST(DpqSettings, ApplyWritesOnlyIntoTheQueueDirectory) {
    Scratch dir;
    std::string file = dir.path + "/in.set";
    std::string queues = dir.path + "/queues";
    std::filesystem::create_directory(queues);
    testsupport::WriteFile(file, "1[../evil] 11 0\n");
    e2e::Result r =
        e2e::RunHost({"setsid", "-w", "env", std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR,
                      Program(), "--dir", queues, file},
                     "1 ok\na\n\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/evil.settings"));
    EXPECT_TRUE(std::filesystem::exists(queues + "/ok.settings"));
    EXPECT_NE(r.err.find("line 1: value \"../evil\" refused"), std::string::npos) << r.err;
}

// Scripted use: answers on standard input, no terminal. The pass phrase is
// the line after the apply answer, however the menu's reading buffered it.
TEST(DpqSettings, AScriptGivesThePassPhraseOnStandardInput) {
    Scratch dir;
    e2e::Result value =
        e2e::RunHost({"setsid", "-w", Program(), "--passphrase-value"}, "secret12\n");
    ASSERT_EQ(value.status, 0) << value.err;
    testsupport::WriteFile(dir.path + "/lp0.lock", value.out);
    testsupport::WriteFile(dir.path + "/lp0.set", "1[lp0] 11 0\n3[2] 13 0\n");
    auto run = [&](const std::string &input) {
        return e2e::RunHost({"setsid", "-w", "env",
                             std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR, Program(),
                             "--dir", dir.path, dir.path + "/lp0.set"},
                            input);
    };
    e2e::Result wrong = run("a\nsecret13\n\n\n\n");
    EXPECT_NE(wrong.out.find("Wrong pass phrase"), std::string::npos) << wrong.out;
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/lp0.settings"));
    e2e::Result right = run("a\nsecret12\n\n\n\n");
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(right.out.find("Wrong pass phrase"), std::string::npos) << right.out;
    EXPECT_NE(right.out.find("Settings of queue lp0 written to"), std::string::npos) << right.out;
    EXPECT_EQ(e2e::ReadHostFile(dir.path + "/lp0.settings").find("3[2] 13 0\n"), 21u);
}

TEST(DpqSettings, EndOfInputAtTheMenuIsSaidAsSuch) {
    Scratch dir;
    for (const char *input : {"", "3 4\n", "\xff"}) {
        SCOPED_TRACE(input);
        e2e::Result r = e2e::RunHost({"setsid", "-w", "env",
                                      std::string("DORNA_TOOL_ROOT=") + DORNA_TOOL_ROOT_DIR,
                                      Program(), "--dir", dir.path},
                                     input);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("dpqsettings: reading from standard input : end of input"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("Success"), std::string::npos) << r.err;
    }
}

// ---- Menus taller than the terminal --------------------------------------

std::string MenuHost(int count, int width) {
    return "DORNA_TOOL_ROOT=" + e2e::ShellQuote(DORNA_TOOL_ROOT_DIR) + " " +
           e2e::ShellQuote(MENU_HOST_PATH) + " " + std::to_string(count) + " " +
           std::to_string(width);
}

// Forty short items on 24 rows: set in columns, first item and prompt on
// one screen.
TEST(TallMenu, ShortItemsAreSetInColumns) {
    REQUIRE_TMUX();
    e2e::Terminal term(MenuHost(40, 0), 80, 24);
    ASSERT_TRUE(term.WaitFor("Enter your choice")) << term.Screen();
    std::string screen = term.Screen();
    EXPECT_NE(screen.find("A tall menu"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" 1) Item number 1 "), std::string::npos) << screen;
    EXPECT_NE(screen.find("40) Item number 40"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" x) Exit"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("--More--"), std::string::npos) << screen;
    term.Type("40");
    term.Press("Enter");
    ASSERT_TRUE(term.WaitFor("chose 40")) << term.Screen();
    term.Press("Enter");
    ASSERT_TRUE(term.WaitFor("Enter your choice")) << term.Screen();
    term.Type("x");
    term.Press("Enter");
    EXPECT_TRUE(term.WaitFor("[exited 0]")) << term.Screen();
}

// Items too wide for columns: a screenful at a time, the prompt after the
// last; q goes straight to the prompt's screenful.
TEST(TallMenu, WideItemsAreShownAScreenfulAtATime) {
    REQUIRE_TMUX();
    for (const char *key : {"Space", "q"}) {
        SCOPED_TRACE(key);
        e2e::Terminal term(MenuHost(40, 50), 80, 24);
        ASSERT_TRUE(term.WaitFor("--More--")) << term.Screen();
        std::string first = term.Screen();
        EXPECT_NE(first.find(" 1) Item number 1 and more"), std::string::npos) << first;
        EXPECT_EQ(first.find("Enter your choice"), std::string::npos) << first;
        for (int i = 0; i < 10 && term.Screen().find("Enter your choice") == std::string::npos;
             ++i) {
            term.Press(key);
            usleep(200 * 1000);
        }
        ASSERT_TRUE(term.WaitFor("Enter your choice")) << term.Screen();
        EXPECT_NE(term.Screen().find("40) Item number 40"), std::string::npos) << term.Screen();
        term.Type("3");
        term.Press("Enter");
        ASSERT_TRUE(term.WaitFor("chose 3")) << term.Screen();
    }
}

// On 40 x 12 the same forty short items need more columns than fit: paged.
TEST(TallMenu, OnASmallTerminalItemsArePaged) {
    REQUIRE_TMUX();
    e2e::Terminal term(MenuHost(40, 0), 40, 12);
    ASSERT_TRUE(term.WaitFor("--More--")) << term.Screen();
    EXPECT_NE(term.Screen().find("1) Item number 1"), std::string::npos) << term.Screen();
    term.Type("q");
    ASSERT_TRUE(term.WaitFor("Enter your choice")) << term.Screen();
    term.Type("x");
    term.Press("Enter");
    EXPECT_TRUE(term.WaitFor("[exited 0]")) << term.Screen();
}

} // namespace
