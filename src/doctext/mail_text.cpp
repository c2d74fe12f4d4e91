#include "doctext/mail_text.h"

#include "doctext/charset.h"
#include "doctext/html_text.h"
#include "doctext/mime_decode.h"

#include <string>
#include <vector>

namespace ferry {

namespace {

// Deeper nesting or more parts than mail programs write are a file built to wear us out.
constexpr int MaxDepth = 32;
constexpr int MaxParts = 2000;

struct Field {
    std::string Name; // lower case
    std::string Value;
};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

std::string_view TrimSpace(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Splits an entity into its unfolded header fields and its body.
std::string_view SplitHeader(std::string_view entity, std::vector<Field>& fields) {
    std::size_t at = 0;
    while (at < entity.size()) {
        std::size_t eol = entity.find('\n', at);
        const std::size_t next = eol == std::string_view::npos ? entity.size() : eol + 1;
        std::string_view line =
            entity.substr(at, (eol == std::string_view::npos ? entity.size() : eol) - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        at = next;
        if (line.empty())
            return entity.substr(at);
        if ((line[0] == ' ' || line[0] == '\t')) {
            if (!fields.empty() && fields.back().Value.size() < 65536)
                fields.back().Value.append(line);
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            // no header at all: the whole entity is body (an "From " line of mbox excepted)
            if (fields.empty() && line.substr(0, 5) != "From ")
                return entity;
            continue;
        }
        if (fields.size() < 1000)
            fields.push_back({Lower(TrimSpace(line.substr(0, colon))),
                              std::string(TrimSpace(line.substr(colon + 1)))});
    }
    return {};
}

const std::string* Find(const std::vector<Field>& fields, std::string_view name) {
    for (const Field& f : fields)
        if (f.Name == name)
            return &f.Value;
    return nullptr;
}

// "text/plain; charset="koi8-r"; format=flowed" -> "text/plain" and its parameters.
std::string ParseContentType(std::string_view value, std::string& charset, std::string& boundary) {
    const std::size_t semi = value.find(';');
    const std::string type = Lower(TrimSpace(value.substr(0, semi)));
    std::size_t at = semi;
    while (at != std::string_view::npos && at < value.size()) {
        ++at;
        const std::size_t eq = value.find('=', at);
        if (eq == std::string_view::npos)
            break;
        const std::string name = Lower(TrimSpace(value.substr(at, eq - at)));
        std::size_t v = eq + 1;
        while (v < value.size() && (value[v] == ' ' || value[v] == '\t'))
            ++v;
        std::string param;
        if (v < value.size() && value[v] == '"') {
            ++v;
            while (v < value.size() && value[v] != '"') {
                if (value[v] == '\\' && v + 1 < value.size())
                    ++v;
                param += value[v++];
            }
            at = value.find(';', v);
        } else {
            at = value.find(';', v);
            param = std::string(TrimSpace(
                value.substr(v, at == std::string_view::npos ? std::string_view::npos : at - v)));
        }
        if (name == "charset")
            charset = param;
        else if (name == "boundary")
            boundary = param;
    }
    return type;
}

class MailReader {
public:
    explicit MailReader(TextSink& sink) : Sink_(sink) {}

    void Message(std::string_view message, bool top, int depth) {
        std::vector<Field> fields;
        const std::string_view body = SplitHeader(message, fields);
        if (top) {
            if (const std::string* s = Find(fields, "subject"))
                Sink_.Add("e-mail subject", DecodeHeaderWords(*s));
            if (const std::string* f = Find(fields, "from"))
                Sink_.Add("e-mail sender", DecodeHeaderWords(*f));
        }
        Entity(fields, body, depth);
    }

private:
    void Entity(const std::vector<Field>& fields, std::string_view body, int depth) {
        if (++Parts_ > MaxParts || depth > MaxDepth)
            throw ReadFailure(UnreadableReason::OverSizeBound);
        std::string charset, boundary;
        const std::string* ct = Find(fields, "content-type");
        const std::string type = ct ? ParseContentType(*ct, charset, boundary) : "text/plain";

        if (type.rfind("multipart/", 0) == 0) {
            if (!boundary.empty())
                Multipart(body, boundary, depth);
            return;
        }
        if (type == "message/rfc822" || type == "message/global") {
            Message(body, false, depth + 1);
            return;
        }
        const bool plain = type == "text/plain" || type.empty();
        const bool html = type == "text/html";
        if (!plain && !html)
            return; // pictures, programs, documents attached: not the mail's own words
        const std::string* cte = Find(fields, "content-transfer-encoding");
        const std::string encoding = cte ? Lower(TrimSpace(*cte)) : "";
        std::string bytes;
        if (encoding == "base64")
            bytes = DecodeBase64(body);
        else if (encoding == "quoted-printable")
            bytes = DecodeQuotedPrintable(body);
        else
            bytes = std::string(body);
        // Mail labelled ASCII is often not: such a label decides nothing.
        const std::string lc = Lower(charset);
        const std::string utf8 =
            ToUtf8(bytes, lc == "us-ascii" || lc == "ascii" ? std::string() : charset);
        Sink_.Add("e-mail body", html ? HtmlText(utf8, "UTF-8", Sink_.Left()) : utf8);
    }

    void Multipart(std::string_view body, const std::string& boundary, int depth) {
        const std::string delimiter = "--" + boundary;
        std::size_t partStart = std::string_view::npos;
        std::size_t at = 0;
        while (at < body.size()) {
            std::size_t eol = body.find('\n', at);
            const std::size_t lineEnd = eol == std::string_view::npos ? body.size() : eol;
            const std::string_view line = body.substr(at, lineEnd - at);
            const std::size_t next = eol == std::string_view::npos ? body.size() : eol + 1;
            if (line.compare(0, delimiter.size(), delimiter) == 0) {
                const std::string_view rest = TrimSpace(line.substr(delimiter.size()));
                if (rest.empty() || rest == "--") {
                    if (partStart != std::string_view::npos) {
                        // the line break before a delimiter belongs to the delimiter
                        std::size_t end = at;
                        if (end > partStart && body[end - 1] == '\n')
                            --end;
                        if (end > partStart && body[end - 1] == '\r')
                            --end;
                        std::vector<Field> fields;
                        const std::string_view part = body.substr(partStart, end - partStart);
                        const std::string_view partBody = SplitHeader(part, fields);
                        Entity(fields, partBody, depth + 1);
                    }
                    if (rest == "--")
                        return;
                    partStart = next;
                }
            }
            at = next;
        }
        // a last part cut short by the file's end is read as far as it goes
        if (partStart != std::string_view::npos && partStart < body.size()) {
            std::vector<Field> fields;
            const std::string_view part = body.substr(partStart);
            Entity(fields, SplitHeader(part, fields), depth + 1);
        }
    }

    TextSink& Sink_;
    int Parts_ = 0;
};

} // namespace

void ReadMail(std::string_view message, TextSink& sink) {
    MailReader(sink).Message(message, true, 0);
}

} // namespace ferry
