// Fuzz target: arbitrary bytes as a help file, parsed, laid out and walked
// through its in-file links. The first byte picks the encoding (UTF-8 or one
// byte per character); the rest is the file's text.
#include <cstring>

#include "FuzzSupport.h"
#include "MemMgr.h"
#include "html.h"

namespace {

// What every laid-out page promises: a text of LineCnt lines and link ranges
// inside it.
void CheckPage(const HtmlPage *page) {
    fuzz::Expect(page->pText != nullptr, "a loaded page has no text");
    size_t len = strlen(page->pText);
    int lines = 0;
    for (const char *p = page->pText; (p = strchr(p, '\n')); ++p)
        ++lines;
    fuzz::Expect(lines == page->LineCnt, "LineCnt differs from the lines of the text");
    fuzz::Expect(len == 0 || page->pText[len - 1] == '\n', "the text does not end a line");
    for (const ListNode *n = page->Links.pHead; n; n = n->pNext) {
        const HtmlLink *l = *static_cast<HtmlLink *const *>(n->pData);
        fuzz::Expect(l->Start >= 0 && l->Start <= l->End && static_cast<size_t>(l->End) <= len,
                     "a link range lies outside its page's text");
        fuzz::Expect(l->TextLen >= 0, "a link has a negative length");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    flHtmlUtf8 = data[0] & 1;
    auto *text = static_cast<char *>(GetMem(static_cast<long>(size)));
    if (!text) return 0;
    memcpy(text, data + 1, size - 1);
    HtmlFile *f = LoadHtmlFile("fuzz.html", text);
    if (!f) {
        PutMem(text);
        return 0;
    }
    for (const ListNode *n = f->Pages.pHead; n; n = n->pNext)
        CheckPage(static_cast<HtmlPage *>(n->pData));
    // Links within the file: anchors and pages, and back again.
    HtmlPage *first = pCurrentPage;
    for (const ListNode *n = first->Links.pHead; n; n = n->pNext) {
        const HtmlLink *l = *static_cast<HtmlLink *const *>(n->pData);
        if (l->Kind == HTML_LINK_HREF && l->pTarget && l->pTarget[0] == '#')
            HtmlProcessLink(l->Start);
    }
    while (HtmlSetHistory(-1)) {
    }
    HtmlFreeFiles();
    return 0;
}
