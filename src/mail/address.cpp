#include "mail/address.h"

#include <cstring>

#include "base/text.h"

namespace ferry {

namespace {

const char kAtomChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890"
                          "!#$%&'*+-/=?_`{}|~";

bool IsAtomChar(char c) {
    return c != '\0' && std::strchr(kAtomChars, c) != nullptr;
}
bool IsNameChar(char c) {
    return c == ' ' || IsAtomChar(c);
}
bool IsQuotedSpecial(char c) {
    return c == '\\' || c == '"';
}

// Index of the first character of s that is one of set, or npos.
size_t FindAny(const std::string& s, const char* set) {
    return s.find_first_of(set, 0, std::strlen(set));
}

bool IsEmptyItem(const TIdEMailAddressItem& item) {
    std::string t = Trim(item.Text());
    return t.empty() || t == "<>";
}

} // namespace

// ---------------------------------------------------------------- item

std::string TIdEMailAddressItem::FormatAddress() const {
    if (Address.empty())
        return Name.empty() ? std::string() : std::string("<>");
    size_t at = Address.rfind('@');
    std::string local = at == std::string::npos ? Address : Address.substr(0, at);
    std::string domain = at == std::string::npos ? std::string() : Address.substr(at);

    size_t bad = 0;
    while (bad < local.size() && IsAtomChar(local[bad]))
        ++bad;
    if (bad == local.size() || local[bad] == '.') {
        std::string plain = local + domain;
        return Name.empty() ? plain : "<" + plain + ">";
    }
    std::string quoted = "\"";
    for (char c : local) {
        if (!IsAtomChar(c) && IsQuotedSpecial(c))
            quoted += '\\';
        quoted += c;
    }
    return "<" + quoted + "\"" + domain + ">";
}

std::string TIdEMailAddressItem::Text() const {
    if (Name.empty() || Name == UpperCaseAscii(Address))
        return FormatAddress();
    bool plain = true;
    for (char c : Name)
        plain = plain && IsNameChar(c);
    if (plain)
        return Name + " " + FormatAddress();
    std::string quoted = "\"";
    for (char c : Name) {
        if (IsQuotedSpecial(c))
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\" " + FormatAddress();
}

void TIdEMailAddressItem::SetText(const std::string& text) {
    Address.clear();
    Name.clear();
    std::string t = Trim(text);
    if (t.empty())
        return;

    static const char kStart[] = "(\"< @\t";
    size_t found = FindAny(t, kStart);
    if (found == std::string::npos) {
        Address = t;
        return;
    }

    bool inQuote = false, inAddress = false, bracketed = false, afterAt = false;
    int depth = 0;
    // The fields are written as the text is read, so a failure leaves what was parsed.
    while (found != std::string::npos) {
        const size_t i = found; // zero-based position of the character acted on
        const char c = t[i];
        const std::string head = t.substr(0, i);
        auto drop = [&] { t.erase(0, i + 1); };
        switch (c) {
        case ' ':
        case '\t':
            if (i == 0) {
                t.erase(0, 1);
            } else {
                if (afterAt)
                    Address += Trim(head);
                else
                    Name += t.substr(0, i + 1);
                drop();
            }
            break;
        case '(':
            ++depth;
            if (i == 0) {
                t.erase(0, 1);
            } else {
                if (inAddress)
                    Address += Trim(head);
                else if (depth == 1)
                    Name += head;
                drop();
            }
            break;
        case ')':
            --depth;
            drop();
            break;
        case '"':
            if (inQuote) {
                (bracketed ? Address : Name) += Trim(head);
                drop();
                inQuote = false;
            } else {
                // A quote glued to text before it: keep that text rather than lose it.
                if (i > 0)
                    (inAddress ? Address : Name) += head;
                drop();
                inQuote = true;
            }
            break;
        case '<':
            if (i > 0)
                Name += head;
            Name = Trim(Name);
            bracketed = true;
            inAddress = true;
            drop();
            break;
        case '>':
            inAddress = false;
            afterAt = false;
            Address += Trim(head);
            drop();
            break;
        case '@':
            afterAt = true;
            if (inAddress) {
                Address += t.substr(0, i + 1);
                drop();
            } else if (bracketed) {
                throw EIdEmailParseError("@ Outside address");
            } else {
                inAddress = true;
                Address += t.substr(0, i + 1);
                drop();
            }
            break;
        case '.':
            if (bracketed) {
                Address += Trim(head) + ".";
                t = TrimLeft(t.substr(i + 1));
            } else {
                Address += t.substr(0, i + 1);
                drop();
            }
            break;
        case '\\':
            if (inQuote) {
                std::string& target = inAddress ? Address : Name;
                target += head;
                // A backslash that ends the text escapes nothing.
                if (i + 1 < t.size())
                    target += t[i + 1];
            }
            t.erase(0, std::min(t.size(), i + 2));
            break;
        }

        const char* set;
        if (depth > 0)
            set = "()\\";
        else if (inQuote)
            set = "\"\\";
        else if (afterAt && bracketed)
            set = ".>(";
        else if (afterAt)
            set = ".( ";
        else if (inAddress)
            set = "\"(@>";
        else
            set = kStart;
        found = FindAny(t, set);
    }
    if (inAddress && !bracketed)
        Address += Trim(t);
}

std::string TIdEMailAddressItem::Domain() const {
    size_t at = Address.rfind('@');
    return at == std::string::npos ? std::string() : Address.substr(at + 1);
}

std::string TIdEMailAddressItem::User() const {
    size_t at = Address.rfind('@');
    return at == std::string::npos ? std::string() : Address.substr(0, at);
}

void TIdEMailAddressItem::SetDomain(const std::string& domain) {
    size_t at = Address.find('@');
    Address = (at == std::string::npos ? Address : Address.substr(0, at)) + "@" + domain;
}

void TIdEMailAddressItem::SetUser(const std::string& user) {
    size_t at = Address.find('@');
    Address = user + "@" + (at == std::string::npos ? Address : Address.substr(at + 1));
}

// ---------------------------------------------------------------- list

TIdEMailAddressItem& TIdEMailAddressList::Add() {
    Items_.push_back(std::make_unique<TIdEMailAddressItem>());
    return *Items_.back();
}

void TIdEMailAddressList::Delete(size_t index) {
    if (index < Items_.size())
        Items_.erase(Items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TIdEMailAddressList::Assign(const TIdEMailAddressList& other) {
    if (&other == this)
        return;
    Items_.clear();
    for (const auto& item : other.Items_)
        Add() = *item;
}

std::string TIdEMailAddressList::AddressesText() const {
    std::string result;
    for (const auto& item : Items_) {
        if (result.empty())
            result = item->Text();
        else
            result += ", " + item->Text();
    }
    return result;
}

void TIdEMailAddressList::SetAddressesText(const std::string& text) {
    Clear();
    if (Trim(text).empty())
        return;

    static const char kSeparators[] = ":;(\", \t";
    std::string l = text;
    size_t found = FindAny(l, kSeparators);
    if (found == std::string::npos) {
        Add().SetText(TrimLeft(l));
        return;
    }

    // An item is added before its text is parsed, so a parse error keeps it.
    auto addParsed = [&](const std::string& itemText, bool dropEmpty) {
        TIdEMailAddressItem& item = Add();
        item.SetText(itemText);
        if (dropEmpty && IsEmptyItem(item))
            Items_.pop_back();
    };

    std::string pending;
    bool inQuote = false;
    int depth = 0;
    while (found != std::string::npos) {
        const size_t i = found;
        switch (l[i]) {
        case ' ':
        case '\t':
            pending += l.substr(0, i + 1);
            l.erase(0, i + 1);
            break;
        case '"':
            pending += l.substr(0, i + 1);
            l.erase(0, i + 1);
            inQuote = !inQuote;
            break;
        case '(':
            pending += l.substr(0, i + 1);
            l.erase(0, i + 1);
            ++depth;
            break;
        case ')':
            pending += l.substr(0, i + 1);
            l.erase(0, i + 1);
            --depth;
            break;
        case '\\': {
            // The escaped character goes with it; a final backslash has none.
            size_t n = std::min(l.size(), i + 2);
            pending += l.substr(0, n);
            l.erase(0, n);
            break;
        }
        case ',':
            pending += l.substr(0, i);
            l.erase(0, i + 1);
            addParsed(pending, true);
            pending.clear();
            break;
        case ':':
            l.erase(0, i + 1);
            pending.clear();
            break;
        case ';':
            pending += l.substr(0, i);
            l.erase(0, i + 1);
            if (!Trim(pending).empty()) {
                addParsed(TrimLeft(pending), false);
                pending.clear();
            }
            break;
        }

        const char* set = depth > 0 ? "()\\" : inQuote ? "\"\\" : kSeparators;
        found = FindAny(l, set);
    }
    if (!Trim(pending).empty() || !Trim(l).empty())
        addParsed(TrimLeft(pending + l), true);
}

} // namespace ferry
