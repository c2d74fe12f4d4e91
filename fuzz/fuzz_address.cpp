// Recipient text as a user might type it: parsed, written back, parsed again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/address.h"

using namespace ferry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    TIdEMailAddressList list;
    try {
        list.SetAddressesText(input);
    } catch (const EIdEmailParseError&) {
    }
    std::string text = list.AddressesText();
    for (size_t i = 0; i < list.Count(); ++i) {
        (void)list[i].User();
        (void)list[i].Domain();
    }
    TIdEMailAddressList again;
    try {
        again.SetAddressesText(text);
    } catch (const EIdEmailParseError&) {
    }
    (void)again.AddressesText();

    TIdEMailAddressItem item;
    try {
        item.SetText(input);
    } catch (const EIdEmailParseError&) {
    }
    (void)item.Text();
    return 0;
}
