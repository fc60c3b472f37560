// dphelp - shows a help file: in the terminal front end, or with --dump as
// plain text for scripts and for reading help without a terminal.
#include "HelpTty.h"
#include "MemMgr.h"
#include "ToolOptions.h"
#include "NlsUtils.h"
#include "utils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char Usage[] = "usage: dphelp FILE[#anchor]\n"
                     "       dphelp --dump FILE\n"
                     "       dphelp --help\n"
                     "Shows the HTML help file FILE in the terminal, at the page or anchor\n"
                     "after '#': the page's links are numbered items, 'e' leaves, 'c' goes\n"
                     "to the contents and 'b' back. --dump prints every page's laid-out text\n"
                     "instead, pages separated by a form feed.\n";

// A file name as a message shows it, control characters escaped.
const char *Shown(const char *name) {
    static char shown[2048];
    return EscapeControls(shown, sizeof shown, name);
}

int Dump(const char *name) {
    HtmlFile *f = LoadHtmlFile(name, nullptr);
    if (!f) {
        errormsg("cannot show %s: not a readable help file with an html tag", Shown(name));
        return 1;
    }
    bool first = true;
    int number = 0;
    for (ListNode *n = f->Pages.pHead; n; n = n->pNext) {
        const auto *page = static_cast<const HtmlPage *>(n->pData);
        ++number;
        if (!first) fputc('\f', stdout);
        first = false;
        if (page->pText) fputs(page->pText, stdout);
        if (HtmlPageCut(page))
            errormsg("page %d of %s is cut: its text would pass %ld bytes", number, Shown(name),
                     HtmlLayoutLimit(page));
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        errormsg("cannot write the text of %s", Shown(name));
        return 1;
    }
    return 0;
}

// The help file in the terminal front end, at its anchor.
int Show(const char *name, const char *argv0) {
    if (!LoadHtmlFile(name, nullptr)) {
        errormsg("cannot show %s: not a readable help file with an html tag", Shown(name));
        return 1;
    }
    // Without a catalog the menu keeps its English texts.
    pToolPath = ToolRoot(argv0, DPHELP_BUILD_TOOL_ROOT);
    pDrvCoreDB = NlsOpenDB("CoreString", DBT_NOREFRESH);
    TtyHtmlHelp(name, nullptr, "Help");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    my_name = SaveStr_(StripPath(argv[0]));
    constexpr unsigned OPT_HELP = 1, OPT_DUMP = 2;
    std::string dumpFile;
    const ToolOption known[] = {{"--help", OPT_HELP, nullptr}, {"--dump", OPT_DUMP, &dumpFile}};
    // Each of the three forms stands alone: --help, --dump FILE or FILE.
    ToolOptionRules rules;
    rules.anywhere = true;
    rules.once = true;
    std::vector<std::string> args(argv + 1, argv + argc);
    unsigned given = 0;
    std::string bad;
    if (ToolParseOptions(known, std::size(known), &args, &given, &bad, &rules) == TOOLOPT_OK) {
        if (given == OPT_HELP && args.empty()) {
            fputs(Usage, stdout);
            return 0;
        }
        if (given == OPT_DUMP && args.empty()) return Dump(dumpFile.c_str());
        // "-" would be standard input, which the viewer does not read.
        if (given == 0 && args.size() == 1 && args[0] != "-") return Show(args[0].c_str(), argv[0]);
    }
    fputs(Usage, stderr);
    return 2;
}
