// Helpers of the help viewer's tests: a fresh set of loaded files, help texts
// loaded from strings, and the pieces of a loaded page.
#pragma once

#include "html.h"

#include "TestSupport.h"

#include "utils.h"

#include <cstring>
#include <string>
#include <vector>

namespace html_testing {

// Gives back every loaded file, empties the history and sets the encoding.
inline void ResetHelp(int utf8) {
    HtmlFreeFiles();
    CurrentFile = 0;
    pCurrentPage = nullptr;
    HistoryI = 0;
    TargetPos = 0;
    flBuildingFile = 0;
    flHtmlUtf8 = utf8;
}

// Loads html (copied, since parsing writes into it) under a name of its own.
inline HtmlFile *Load(const std::string &html, const std::string &name = "") {
    static int count = 0;
    std::string n = name.empty() ? "test" + std::to_string(++count) + ".html" : name;
    return LoadHtmlFile(n.c_str(), SaveStr_(html.c_str()));
}

inline HtmlPage *PageN(HtmlFile *f, int n) {
    return f ? static_cast<HtmlPage *>(ListFindItemN(&f->Pages, n)) : nullptr;
}

// The text of the first page of html.
inline std::string Text(const std::string &html) {
    HtmlPage *p = PageN(Load(html), 1);
    return p && p->pText ? p->pText : "<no page>";
}

// The text of a body, laid out without a title.
inline std::string Body(const std::string &body) {
    return Text("<html><body>" + body + "</body></html>");
}

// The elements of a list as "tag[attrs]" for tags and "'text'" for runs.
inline std::vector<std::string> Elements(List *l) {
    std::vector<std::string> out;
    for (ListNode *n = l->pHead; n; n = n->pNext) {
        auto *e = static_cast<HtmlElement *>(n->pData);
        if (!e->pTag)
            out.push_back("'" + std::string(static_cast<char *>(e->pData)) + "'");
        else if (strcasecmp(e->pTag, "a") == 0)
            out.push_back(e->pTag);
        else
            out.push_back(std::string(e->pTag) + "[" + static_cast<char *>(e->pData) + "]");
    }
    return out;
}

// The links of a page as seen in its text: the bytes each range covers.
inline std::vector<std::string> LinkTexts(HtmlPage *p) {
    std::vector<std::string> out;
    for (ListNode *n = p->Links.pHead; n; n = n->pNext) {
        HtmlLink *l = *static_cast<HtmlLink **>(n->pData);
        out.push_back(std::string(p->pText + l->Start, static_cast<size_t>(l->End - l->Start)));
    }
    return out;
}

} // namespace html_testing
