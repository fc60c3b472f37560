// dphelp - shows a help file: in the terminal front end, or with --dump as
// plain text for scripts and for reading help without a terminal.
#include "html.h"
#include "utils.h"

#include <cstdio>
#include <cstring>

namespace {

const char Usage[] = "usage: dphelp FILE[#anchor]\n"
                     "       dphelp --dump FILE\n"
                     "       dphelp --help\n"
                     "Shows the HTML help file FILE in the terminal, at the page or anchor\n"
                     "after '#'. --dump prints every page's laid-out text instead, pages\n"
                     "separated by a form feed.\n";

int Dump(const char *name) {
    HtmlFile *f = ParseHtmlFile(name, nullptr);
    if (!f) {
        errormsg("cannot show %s: not a readable help file with an html tag", name);
        return 1;
    }
    bool first = true;
    for (ListNode *n = f->Pages.pHead; n; n = n->pNext) {
        const auto *page = static_cast<const HtmlPage *>(n->pData);
        if (!first) fputc('\f', stdout);
        first = false;
        if (page->pText) fputs(page->pText, stdout);
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        errormsg("cannot write the text of %s", name);
        return 1;
    }
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
    fputs(Usage, stderr);
    return 2;
}
