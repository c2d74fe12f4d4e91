#include "doctext/xml_text.h"

#include "doctext/text_sink.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <libxml/xmlreader.h>

namespace ferry {

namespace {

bool In(const std::vector<std::string>& names, const char* name) {
    return name && std::find(names.begin(), names.end(), name) != names.end();
}

struct Reader {
    xmlTextReaderPtr R;
    ~Reader() { xmlFreeTextReader(R); }
};

void Silent(void*, const char*, ...) {}

} // namespace

std::vector<std::string> XmlText(std::string_view xml, const XmlTextRules& rules,
                                 std::size_t limit) {
    if (xml.size() > INT_MAX)
        throw ReadFailure(UnreadableReason::OverSizeBound);
    xmlSetGenericErrorFunc(nullptr, Silent);
    Reader reader{xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                         XML_PARSE_COMPACT)};
    if (!reader.R)
        throw ReadFailure(UnreadableReason::Damaged);
    std::vector<std::string> pieces(1);
    std::size_t total = 0;
    int inText = 0, inPiece = 0;
    bool pieceSeen = false;
    auto add = [&](const char* s, std::size_t n) {
        total += n;
        if (total > limit)
            throw ReadFailure(UnreadableReason::OverSizeBound);
        pieces.back().append(s, n);
    };
    int ret = xmlTextReaderRead(reader.R);
    while (ret == 1) {
        const int type = xmlTextReaderNodeType(reader.R);
        const auto* name = reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader.R));
        if (type == XML_READER_TYPE_ELEMENT) {
            const bool empty = xmlTextReaderIsEmptyElement(reader.R) == 1;
            bool skip = In(rules.Skip, name);
            if (!skip && !rules.SkipIfElement.empty() && name && rules.SkipIfElement == name) {
                xmlChar* v = xmlTextReaderGetAttribute(
                    reader.R, reinterpret_cast<const xmlChar*>(rules.SkipIfAttribute.c_str()));
                skip = v && rules.SkipIfValue == reinterpret_cast<const char*>(v);
                xmlFree(v);
            }
            if (skip) {
                ret = xmlTextReaderNext(reader.R);
                continue;
            }
            if (!rules.Piece.empty() && name && rules.Piece == name && inPiece++ == 0) {
                if (pieceSeen)
                    pieces.emplace_back();
                pieceSeen = true;
            }
            if (In(rules.Space, name))
                add(" ", 1);
            if (In(rules.Text, name) && !empty)
                ++inText;
            if (empty && In(rules.Line, name))
                add("\n", 1);
            if (empty && !rules.Piece.empty() && name && rules.Piece == name)
                --inPiece;
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            if (In(rules.Text, name) && inText > 0)
                --inText;
            if (In(rules.Line, name))
                add("\n", 1);
            if (!rules.Piece.empty() && name && rules.Piece == name && inPiece > 0)
                --inPiece;
        } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
                   type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE) {
            if (inText > 0) {
                const auto* v = reinterpret_cast<const char*>(xmlTextReaderConstValue(reader.R));
                if (v)
                    add(v, std::strlen(v));
            }
        }
        ret = xmlTextReaderRead(reader.R);
    }
    if (ret != 0)
        throw ReadFailure(UnreadableReason::Damaged);
    return pieces;
}

} // namespace ferry
