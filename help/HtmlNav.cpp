// Navigation: links, named anchors and pages, the history for "back", and
// the way back to the contents.
#include "HtmlPriv.h"

#include "utils.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

HtmlHistory History[HTML_MAX_HISTORY];
int HistoryI = 0;
int TargetPos = 0;
// Set while a file loads or a link is followed: a link met meanwhile is not
// followed, since that would change the current file and page in the middle of
// the load.
unsigned char flBuildingFile = 0;
bool html_internal::LinkFailed = false;

namespace {

// The file HtmlHelp opened: "contents" leads back to its first page even
// when other help files were loaded into the process before it.
int HelpRootFile = 0;

// A file's first page is its contents: where "contents" and a newly opened file
// begin.
HtmlPage *FirstPage(int file) {
    return static_cast<HtmlPage *>(ListFindItemN(&aFile[file].Pages, 1));
}

// Pushes where the viewer is; beyond HTML_MAX_HISTORY entries nothing is kept.
void SetHistory() {
    if (HistoryI >= HTML_MAX_HISTORY) return;
    History[HistoryI++] = {CurrentFile, pCurrentPage, TargetPos};
}

// A relative target names a file beside the current one, wherever the
// program runs from.
std::string Beside(const char *target) {
    if (target[0] == '/' || strstr(target, "://") || CurrentFile >= FileIndex) return target;
    const char *name = aFile[CurrentFile].pName;
    const char *slash = name ? strrchr(name, '/') : nullptr;
    if (!slash) return target;
    return std::string(name, static_cast<size_t>(slash - name) + 1) + target;
}

// A file's name or a link's target as a message shows it: a help file may
// put escape sequences there, which must not reach the terminal.
const char *Shown(const char *text) {
    static char shown[2048];
    return EscapeControls(shown, sizeof shown, text);
}

} // namespace

// A page is shown from its top, an anchor from its offset in the page's text:
// link offsets are final only after layout, which is why LoadHtmlFile lays out
// every page before it jumps. The first page or anchor of the name in the
// file's order wins.
void html_internal::GoToTarget(const char *target) {
    if (!target || CurrentFile < 0 || CurrentFile >= FileIndex) return;
    if (*target == '#') ++target;
    // A name found nowhere changes nothing: a broken link leaves the reader
    // where they were rather than on an empty page.
    for (ListNode *n = aFile[CurrentFile].Pages.pHead; n; n = n->pNext) {
        auto *page = static_cast<HtmlPage *>(n->pData);
        if (page->pName && strcmp(page->pName, target) == 0) {
            TargetPos = 0;
            SetHistory();
            pCurrentPage = page;
            return;
        }
        for (ListNode *l = page->Links.pHead; l; l = l->pNext) {
            HtmlLink *link = *static_cast<HtmlLink **>(l->pData);
            if (link->Kind == HTML_LINK_NAME && link->pTarget &&
                strcmp(link->pTarget, target) == 0) {
                SetHistory();
                pCurrentPage = page;
                TargetPos = link->Start;
                return;
            }
        }
    }
}

HtmlFile *LoadHtmlFile(const char *name, char *content) {
    HtmlFile *f = ParseHtmlFile(name, content);
    if (!f) return nullptr;
    CurrentFile = static_cast<int>(f - aFile);
    // Every page is laid out while the file loads, so that following a link
    // or going back never waits for layout; a page laid out before is kept.
    for (ListNode *n = f->Pages.pHead; n; n = n->pNext) {
        pCurrentPage = static_cast<HtmlPage *>(n->pData);
        PrintTextImage(f);
    }
    pCurrentPage = FirstPage(CurrentFile);
    const char *hash = strchr(name, '#');
    if (hash && hash[1]) html_internal::GoToTarget(hash + 1);
    return f;
}

// A help session starts with an empty history, so that "back" never leads into
// a file an earlier session showed.
int HtmlHelp(const char *name, char *data) {
    if (!name) return 0;
    HistoryI = 0;
    TargetPos = 0;
    flBuildingFile = 1;
    HtmlFile *f = LoadHtmlFile(name, data);
    flBuildingFile = 0;
    if (f) {
        HelpRootFile = static_cast<int>(f - aFile);
        return 1;
    }
    if (data)
        printf("Error reading HTML buffer\n");
    else
        printf("Error in reading HTML file %s\n", Shown(name));
    return 0;
}

// A target naming the current file by its base name with an anchor jumps within
// it: loading it again under another spelling of its name would take a second
// slot for the same pages.
void ProcessLink(HtmlLink *link) {
    if (!link || !link->pTarget) return;
    const char *target = link->pTarget;
    flBuildingFile = 1;
    const char *hash = strrchr(target, '#');
    bool web = strncasecmp(target, "http://", 7) == 0 || strncasecmp(target, "file://", 7) == 0;
    if (!web && target[0] == '#') {
        html_internal::GoToTarget(target);
    } else if (hash && CurrentFile < FileIndex &&
               strncmp(StripPath(aFile[CurrentFile].pName), target,
                       static_cast<size_t>(hash - target)) == 0) {
        html_internal::GoToTarget(hash);
    } else {
        // Either spelling may be the one the file was loaded under: the
        // target as written, or its path beside the current file.
        std::string path = Beside(target);
        int i = 0;
        while (i < FileIndex && !(aFile[i].Pages.Count > 0 &&
                                  (strcmp(aFile[i].pName, target) == 0 || path == aFile[i].pName)))
            ++i;
        if (i < FileIndex) {
            CurrentFile = i;
            pCurrentPage = FirstPage(i);
            TargetPos = 0;
        } else if (!LoadHtmlFile(path.c_str(), nullptr)) {
            printf("Error in reading file %s\n", Shown(target));
            // The front end keeps the message on the screen until it has been
            // read.
            html_internal::LinkFailed = true;
        }
    }
    flBuildingFile = 0;
}

// The front end knows positions in the page's text, not link records: a link is
// found by the range its text takes.
void HtmlProcessLink(int pos) {
    if (flBuildingFile || FileIndex == 0 || !pCurrentPage) return;
    for (ListNode *n = pCurrentPage->Links.pHead; n; n = n->pNext) {
        HtmlLink *link = *static_cast<HtmlLink **>(n->pData);
        if (link->Kind == HTML_LINK_HREF && link->Start <= pos && pos < link->End) {
            TargetPos = pos;
            ProcessLink(link);
            return;
        }
    }
}

// Mode 0 goes to the contents of the file the session opened, not of the file
// shown, so that "contents" always leads to the same place.
int HtmlSetHistory(int mode) {
    if (HistoryI == 0) return 0;
    if (mode == 0) {
        HistoryI = 0;
        CurrentFile = HelpRootFile < FileIndex ? HelpRootFile : 0;
        pCurrentPage = FirstPage(CurrentFile);
        TargetPos = 0;
    } else if (mode == -1) {
        // The entry taken is where the viewer stood before the last jump.
        --HistoryI;
        CurrentFile = History[HistoryI].FileIdx;
        pCurrentPage = History[HistoryI].pPage;
    }
    return 1;
}
