#include "doctext/office_text.h"

#include "doctext/xml_text.h"
#include "doctext/zip_archive.h"

#include <algorithm>
#include <string_view>

namespace ferry {

namespace {

// The number in a part's name ("xl/worksheets/sheet12.xml" -> 12), or -1 when the name is
// not `prefix` NUMBER ".xml".
long PartNumber(const std::string& name, std::string_view prefix) {
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".xml") != 0)
        return -1;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stol(digits);
}

// Numbered parts in their numbers' order.
std::vector<std::pair<long, std::string>> Numbered(const ZipArchive& zip, std::string_view prefix) {
    std::vector<std::pair<long, std::string>> parts;
    for (const std::string& n : zip.Names())
        if (const long k = PartNumber(n, prefix); k >= 0)
            parts.emplace_back(k, n);
    std::sort(parts.begin(), parts.end());
    return parts;
}

void AddPart(ZipArchive& zip, TextSink& sink, const std::string& part, const XmlTextRules& rules,
             const std::string& label) {
    const std::string xml = zip.Read(part);
    for (std::string& text : XmlText(xml, rules, sink.Left()))
        sink.Add(label, std::move(text));
}

void ReadWord(ZipArchive& zip, TextSink& sink) {
    const XmlTextRules rules{{"t"}, {"tab", "br", "cr"}, {"p"}, {}, "", "", "", ""};
    AddPart(zip, sink, "word/document.xml", rules, "document text");
    const struct {
        std::string_view Prefix;
        const char* Label;
    } extras[] = {{"word/header", "header"}, {"word/footer", "footer"}};
    for (const auto& e : extras)
        for (const auto& [n, part] : Numbered(zip, e.Prefix))
            AddPart(zip, sink, part, rules, e.Label);
    for (const char* notes : {"footnotes", "endnotes"}) {
        const std::string part = std::string("word/") + notes + ".xml";
        if (zip.Has(part))
            AddPart(zip, sink, part, rules, notes);
    }
}

void ReadExcel(ZipArchive& zip, TextSink& sink) {
    if (zip.Has("xl/sharedStrings.xml"))
        AddPart(zip, sink, "xl/sharedStrings.xml", {{"t"}, {}, {"si"}, {"rPh"}, "", "", "", ""},
                "shared strings");
    // A cell of type "s" holds an index into the shared strings, not words of its own.
    const XmlTextRules cells{{"v", "t"}, {}, {"c"}, {"f"}, "", "c", "t", "s"};
    for (const auto& [n, part] : Numbered(zip, "xl/worksheets/sheet"))
        AddPart(zip, sink, part, cells, "sheet " + std::to_string(n));
}

void ReadPowerPoint(ZipArchive& zip, TextSink& sink) {
    const XmlTextRules rules{{"t"}, {"br"}, {"p"}, {}, "", "", "", ""};
    for (const auto& [n, part] : Numbered(zip, "ppt/slides/slide"))
        AddPart(zip, sink, part, rules, "slide " + std::to_string(n));
    for (const auto& [n, part] : Numbered(zip, "ppt/notesSlides/notesSlide"))
        AddPart(zip, sink, part, rules, "slide notes " + std::to_string(n));
}

enum class OpenKind { None, Text, Spreadsheet, Presentation };

OpenKind OpenDocumentKind(ZipArchive& zip) {
    if (!zip.Has("content.xml"))
        return OpenKind::None;
    std::string mimetype;
    if (zip.Has("mimetype"))
        mimetype = zip.Read("mimetype").substr(0, 100);
    constexpr std::string_view base = "application/vnd.oasis.opendocument.";
    if (mimetype.compare(0, base.size(), base) != 0)
        return zip.Has("META-INF/manifest.xml") ? OpenKind::Text : OpenKind::None;
    const std::string_view rest = std::string_view(mimetype).substr(base.size());
    if (rest.substr(0, 11) == "spreadsheet")
        return OpenKind::Spreadsheet;
    if (rest.substr(0, 12) == "presentation")
        return OpenKind::Presentation;
    return OpenKind::Text;
}

void ReadOpenDocument(ZipArchive& zip, TextSink& sink, OpenKind kind) {
    // A password-protected document keeps its parts encrypted; the manifest says so.
    if (zip.Has("META-INF/manifest.xml") &&
        zip.Read("META-INF/manifest.xml").find("encryption-data") != std::string::npos)
        throw ReadFailure(UnreadableReason::Encrypted);
    XmlTextRules rules{{"body"},
                       {"s", "tab", "line-break"},
                       {"p", "h", "table-cell"},
                       {"tracked-changes", "annotation", "forms"},
                       "",
                       "",
                       "",
                       ""};
    const char* label = "document text";
    if (kind == OpenKind::Spreadsheet) {
        rules.Piece = "table";
        label = "sheet ";
    } else if (kind == OpenKind::Presentation) {
        rules.Piece = "page";
        label = "slide ";
    }
    const std::string xml = zip.Read("content.xml");
    std::vector<std::string> pieces = XmlText(xml, rules, sink.Left());
    for (std::size_t i = 0; i < pieces.size(); ++i)
        sink.Add(kind == OpenKind::Text ? label : label + std::to_string(i + 1),
                 std::move(pieces[i]));
}

} // namespace

bool ReadOfficeZip(int fd, TextSink& sink) {
    ZipArchive zip(fd, MaxExpandedBytes);
    if (zip.Has("[Content_Types].xml")) {
        if (zip.Has("word/document.xml")) {
            ReadWord(zip, sink);
            return true;
        }
        if (zip.Has("xl/workbook.xml")) {
            ReadExcel(zip, sink);
            return true;
        }
        if (zip.Has("ppt/presentation.xml")) {
            ReadPowerPoint(zip, sink);
            return true;
        }
    }
    if (const OpenKind kind = OpenDocumentKind(zip); kind != OpenKind::None) {
        ReadOpenDocument(zip, sink, kind);
        return true;
    }
    return false;
}

} // namespace ferry
