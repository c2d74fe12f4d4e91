#include "ui/file_check.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/conditions/folder_matcher.h"
#include "core/conditions/pattern_search.h"
#include "core/conditions/text_reader.h"
#include "extract/document_reader.h"
#include "platform/codepage.h"

namespace ferry {

namespace {

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The length of what was found as the file spells it: a phrase is shown in quotes.
std::size_t FoundLength(const std::string& what) {
    if (what.size() >= 2 && what.front() == '"' && what.back() == '"')
        return what.size() - 2;
    return what.size();
}

// One line of context: line breaks and other controls shown as spaces.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return text;
}

bool Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

// Cuts `text` around [start, start + length) without splitting a UTF-8 character.
void CutAround(const std::string& text, std::size_t start, std::size_t length, bool utf8,
               FoundInContext& out) {
    start = std::min(start, text.size());
    std::size_t end = std::min(text.size(), start + length);
    std::size_t from = start > ContextBytes ? start - ContextBytes : 0;
    std::size_t to = std::min(text.size(), end + ContextBytes);
    if (utf8) {
        while (from < start && Continuation(text[from]))
            ++from;
        while (end < text.size() && Continuation(text[end]))
            ++end;
        while (to < text.size() && to > end && Continuation(text[to]))
            --to;
    }
    out.MoreBefore = from > 0;
    out.MoreAfter = to < text.size();
    out.Before = OneLine(text.substr(from, start - from));
    out.Matched = OneLine(text.substr(start, end - start));
    out.After = OneLine(text.substr(end, to - end));
}

std::string ReadAround(const std::string& path, int64_t offset, std::size_t length, int64_t& from) {
    from = std::max<int64_t>(0, offset - static_cast<int64_t>(ContextBytes));
    // One byte more than is shown tells whether the file goes on.
    std::string bytes(static_cast<std::size_t>(offset - from) + length + ContextBytes + 1, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), from);
    ::close(fd);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

FoundInContext InContext(const ConditionHit& hit, const std::string& path,
                         const std::vector<TextPiece>* pieces) {
    FoundInContext found;
    found.What = hit.What;
    const std::size_t length = FoundLength(hit.What);
    if (pieces && !hit.Piece.empty()) {
        found.Where = hit.Piece;
        found.Utf8 = true;
        for (const TextPiece& piece : *pieces)
            if (piece.Label == hit.Piece) {
                CutAround(piece.Text, static_cast<std::size_t>(hit.Offset), length, true, found);
                break;
            }
        return found;
    }
    found.Where = "byte " + std::to_string(hit.Offset);
    int64_t from = 0;
    const std::string bytes = ReadAround(path, hit.Offset, length, from);
    CutAround(bytes, static_cast<std::size_t>(hit.Offset - from), length, false, found);
    found.MoreBefore = from > 0;
    return found;
}

} // namespace

FileCheck CheckFile(const TaskConditions& conditions, bool caseSensitive, const std::string& path,
                    DocumentReader& documents, const std::string& ocrLanguages,
                    std::chrono::system_clock::time_point now) {
    FileCheck check;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        check.Reason = "the file cannot be found";
        return check;
    }
    if (!S_ISREG(st.st_mode)) {
        check.Reason = "it is not a file";
        return check;
    }
    const FolderMatcher matcher({conditions}, caseSensitive);
    const Selection selection = matcher.Select(0, FileFacts::FromStat(BaseName(path), st), now);
    if (!selection.Selected) {
        check.Reason = selection.Reason;
        return check;
    }
    if (!matcher.Problem(0).empty()) {
        check.Reason = matcher.Problem(0);
        return check;
    }
    DocumentText text;
    if (conditions.LookIn != 0) {
        text = documents.ReadFile(path, LookInOptions{conditions.LookIn >= 2, ocrLanguages});
        if (text.Status == TextStatus::Unreadable) {
            check.Reason = std::string("text could not be read: ") + UnreadableText(text.Reason);
            return check;
        }
    }
    const bool document = text.Status == TextStatus::Text;
    const TaskVerdict verdict =
        document ? matcher.MatchText(text.Pieces, {true})[0] : matcher.MatchFile(path, {true})[0];
    check.Taken = verdict.Holds;
    check.Reason = matcher.Reason(0, verdict);
    for (const ConditionHit& hit : verdict.Found)
        check.Found.push_back(InContext(hit, path, document ? &text.Pieces : nullptr));
    return check;
}

std::string PatternError(const TaskConditions& conditions) {
    if (conditions.Kind != MatchKind::Pattern || conditions.MatchString.empty())
        return {};
    // As a pass compiles it for the bytes of files, in the system code page.
    const TextReader reader(SystemCodePage());
    return PatternSearch(conditions.MatchString, reader, true).Error();
}

} // namespace ferry
