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
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        fputs(Usage, stdout);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "--dump") == 0) return Dump(argv[2]);
    if (argc == 2 && argv[1][0] != '-') return Show(argv[1], argv[0]);
    fputs(Usage, stderr);
    return 2;
}
