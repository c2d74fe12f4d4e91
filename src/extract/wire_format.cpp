#include "extract/wire_format.h"

namespace ferry {

namespace {

constexpr char RequestTag = 'X';

void Put16(std::string& s, std::size_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, std::size_t v) {
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Reads from the front of a payload; any read past its end leaves it failed for good.
class Reader {
public:
    explicit Reader(std::string_view data) : Data_(data) {}
    bool Ok() const { return Ok_; }
    bool AtEnd() const { return Ok_ && At_ == Data_.size(); }

    uint32_t Get(int bytes) {
        if (!Ok_ || Data_.size() - At_ < static_cast<std::size_t>(bytes))
            return Fail();
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= static_cast<uint32_t>(static_cast<unsigned char>(Data_[At_ + i])) << (8 * i);
        At_ += bytes;
        return v;
    }
    std::string_view Take(std::size_t n) {
        if (!Ok_ || Data_.size() - At_ < n) {
            Fail();
            return {};
        }
        std::string_view s = Data_.substr(At_, n);
        At_ += n;
        return s;
    }

private:
    uint32_t Fail() {
        Ok_ = false;
        return 0;
    }
    std::string_view Data_;
    std::size_t At_ = 0;
    bool Ok_ = true;
};

bool ValidLanguages(std::string_view s) {
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '+'))
            return false;
    return true;
}

} // namespace

std::string EncodeRequest(const ExtractRequest& request) {
    std::string s(1, RequestTag);
    s += static_cast<char>(request.Ocr ? 1 : 0);
    const std::string_view langs = std::string_view(request.Languages).substr(0, 0xFFFF);
    Put16(s, langs.size());
    s += langs;
    return s;
}

bool DecodeRequest(std::string_view payload, ExtractRequest& out) {
    Reader r(payload);
    if (r.Get(1) != static_cast<uint32_t>(RequestTag))
        return false;
    const uint32_t flags = r.Get(1);
    const std::string_view langs = r.Take(r.Get(2));
    if (!r.AtEnd() || flags > 1 || !ValidLanguages(langs))
        return false;
    out.Ocr = flags == 1;
    out.Languages = std::string(langs);
    return true;
}

std::string EncodeText(const DocumentText& text) {
    std::string s;
    s += static_cast<char>(text.Status);
    s += static_cast<char>(text.Reason);
    Put32(s, text.Pieces.size());
    for (const TextPiece& p : text.Pieces) {
        const std::string_view label = std::string_view(p.Label).substr(0, 0xFFFF);
        Put16(s, label.size());
        s += label;
        Put32(s, p.Text.size());
        s += p.Text;
    }
    return s;
}

bool DecodeText(std::string_view payload, DocumentText& out) {
    Reader r(payload);
    const uint32_t status = r.Get(1);
    const uint32_t reason = r.Get(1);
    const uint32_t count = r.Get(4);
    if (!r.Ok() || status > static_cast<uint32_t>(TextStatus::Unreadable) ||
        reason > static_cast<uint32_t>(UnreadableReason::HelperMissing) ||
        (status == static_cast<uint32_t>(TextStatus::Unreadable)) != (reason != 0))
        return false;
    // Each piece takes six bytes at least: a count beyond that is a lie, not a reservation.
    if (count > payload.size() / 6)
        return false;
    DocumentText d;
    d.Status = static_cast<TextStatus>(status);
    d.Reason = static_cast<UnreadableReason>(reason);
    d.Pieces.reserve(count);
    for (uint32_t i = 0; i < count && r.Ok(); ++i) {
        TextPiece p;
        p.Label = std::string(r.Take(r.Get(2)));
        p.Text = std::string(r.Take(r.Get(4)));
        d.Pieces.push_back(std::move(p));
    }
    if (!r.AtEnd() || (d.Status != TextStatus::Text && !d.Pieces.empty()))
        return false;
    out = std::move(d);
    return true;
}

std::string FrameHeader(std::size_t size) {
    std::string s;
    Put32(s, size);
    return s;
}

bool FrameLength(const unsigned char header[4], std::size_t& size) {
    size = static_cast<std::size_t>(header[0]) | static_cast<std::size_t>(header[1]) << 8 |
           static_cast<std::size_t>(header[2]) << 16 | static_cast<std::size_t>(header[3]) << 24;
    return size <= MaxFramePayload;
}

const char* UnreadableText(UnreadableReason reason) {
    switch (reason) {
    case UnreadableReason::Damaged:
        return "damaged";
    case UnreadableReason::Encrypted:
        return "encrypted";
    case UnreadableReason::OverSizeBound:
        return "over the size bound";
    case UnreadableReason::OverMemoryBound:
        return "over the memory bound";
    case UnreadableReason::HelperCrashed:
        return "the helper crashed";
    case UnreadableReason::TimedOut:
        return "timed out";
    case UnreadableReason::HelperMissing:
        return "the helper program is missing";
    case UnreadableReason::None:
        break;
    }
    return "";
}

} // namespace ferry
