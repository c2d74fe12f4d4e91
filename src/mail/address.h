#pragma once

// E-mail addresses and address lists, and the parsing of recipient text.

#include <memory>
#include <string>
#include <vector>

#include "net/id_exception.h"

namespace ferry {

// Recipient text that cannot be read as addresses.
class EIdEmailParseError : public EIdException {
public:
    using EIdException::EIdException;
};

// One e-mail address with its display name.
class TIdEMailAddressItem {
public:
    std::string Address;
    std::string Name;

    // The combined "Name <address>" form, quoting where the parser needs it.
    std::string Text() const;
    // Parses one address text into Name and Address. May raise EIdEmailParseError, leaving
    // what was read up to that point.
    void SetText(const std::string& text);

    std::string Domain() const;
    std::string User() const;
    void SetDomain(const std::string& domain);
    void SetUser(const std::string& user);

    // The address alone, in angle brackets when a name goes with it.
    std::string FormatAddress() const;
};

// An ordered list of addresses, as typed by the user for the recipients.
class TIdEMailAddressList {
public:
    TIdEMailAddressItem& Add();
    TIdEMailAddressItem& operator[](size_t index) { return *Items_.at(index); }
    const TIdEMailAddressItem& operator[](size_t index) const { return *Items_.at(index); }
    size_t Count() const { return Items_.size(); }
    void Clear() { Items_.clear(); }
    void Delete(size_t index);
    void Assign(const TIdEMailAddressList& other);

    // The whole list as one text that parses back to the same addresses.
    std::string AddressesText() const;
    // Replaces the list by the addresses of one text. On EIdEmailParseError the items made
    // before the failing one stay, and so does the failing one with what it parsed.
    void SetAddressesText(const std::string& text);

private:
    // Items are held by pointer so references handed out stay valid while the list grows.
    std::vector<std::unique_ptr<TIdEMailAddressItem>> Items_;
};

} // namespace ferry
