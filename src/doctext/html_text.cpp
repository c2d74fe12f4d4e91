#include "doctext/html_text.h"

#include "doctext/charset.h"
#include "doctext/text_sink.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <strings.h>
#include <vector>

namespace ferry {

namespace {

bool NameIs(const xmlNode* n, const char* const* names) {
    for (; *names; ++names)
        if (xmlStrcasecmp(n->name, reinterpret_cast<const xmlChar*>(*names)) == 0)
            return true;
    return false;
}

const char* const Hidden[] = {"script", "style", "template", "noscript", "head", nullptr};
const char* const Blocks[] = {"p",      "div",    "br", "li",         "tr",  "td",      "th",
                              "h1",     "h2",     "h3", "h4",         "h5",  "h6",      "title",
                              "table",  "ul",     "ol", "blockquote", "pre", "section", "article",
                              "header", "footer", "dd", "dt",         "hr",  nullptr};

bool DeclaresCharset(std::string_view html) {
    const std::string_view head = html.substr(0, 4096);
    for (std::size_t i = 0; i + 8 <= head.size(); ++i)
        if (strncasecmp(head.data() + i, "charset=", 8) == 0 ||
            strncasecmp(head.data() + i, "charset ", 8) == 0)
            return true;
    return false;
}

} // namespace

std::string HtmlText(std::string_view html, const std::string& charset, std::size_t limit) {
    if (html.size() > INT_MAX)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                  HTML_PARSE_NONET | HTML_PARSE_COMPACT | HTML_PARSE_NOIMPLIED;
    const char* encoding = nullptr;
    if (!charset.empty()) {
        encoding = charset.c_str();
        options |= HTML_PARSE_IGNORE_ENC;
    } else if (!DeclaresCharset(html) && IsUtf8(html)) {
        // Without a declaration the parser would take the bytes for Latin-1.
        encoding = "UTF-8";
    }
    htmlDocPtr doc =
        htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, encoding, options);
    if (!doc)
        return "";
    std::string out;
    // The title is shown (in the window's bar) though it sits in the head.
    std::vector<const xmlNode*> stack;
    for (const xmlNode* n = doc->children; n; n = n->next)
        stack.push_back(n);
    std::reverse(stack.begin(), stack.end());
    try {
        while (!stack.empty()) {
            const xmlNode* n = stack.back();
            stack.pop_back();
            if (!n) {
                AppendBounded(out, "\n", 1, limit);
                continue;
            }
            if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
                if (n->content)
                    AppendBounded(out, reinterpret_cast<const char*>(n->content),
                                  std::strlen(reinterpret_cast<const char*>(n->content)), limit);
                continue;
            }
            if (n->type != XML_ELEMENT_NODE)
                continue;
            const bool title = xmlStrcasecmp(n->name, BAD_CAST "title") == 0;
            if (NameIs(n, Hidden)) {
                // only the head's title is taken
                for (const xmlNode* c = n->children; c; c = c->next)
                    if (c->type == XML_ELEMENT_NODE &&
                        xmlStrcasecmp(c->name, BAD_CAST "title") == 0)
                        stack.push_back(c);
                continue;
            }
            const bool block = title || NameIs(n, Blocks);
            if (block) {
                AppendBounded(out, "\n", 1, limit);
                stack.push_back(nullptr); // a line ends after the block too
            }
            std::vector<const xmlNode*> children;
            for (const xmlNode* c = n->children; c; c = c->next)
                children.push_back(c);
            stack.insert(stack.end(), children.rbegin(), children.rend());
        }
    } catch (...) {
        xmlFreeDoc(doc);
        throw;
    }
    xmlFreeDoc(doc);
    return out;
}

} // namespace ferry
