// Header values of any bytes: encoded, folded and stored. Whatever the value holds, the
// stored lines must stay one header: no empty line, no line that starts a header of its own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/header_encoding.h"
#include "mail/header_list.h"

using namespace ferry;

namespace {

void CheckOneHeader(const TIdHeaderList& h, const std::string& name) {
    if (h.Count() == 0)
        return;
    if (h[0].compare(0, name.size() + 1, name + ":") != 0)
        std::abort();
    for (size_t i = 1; i < h.Count(); ++i) {
        const std::string& line = h[i];
        if (line.size() < 2 || (line[0] != ' ' && line[0] != '\t'))
            std::abort();
    }
    for (const std::string& line : h.Lines())
        if (line.find_first_of("\r\n") != std::string::npos)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    std::string value(reinterpret_cast<const char*>(data + 1), size - 1);

    TIdHeaderList h;
    h.FoldLength = 10 + mode % 80;
    if (mode & 0x80)
        h.LeadBytes = IsShiftJisLeadByte;
    h.SetValue("Subject", value);
    CheckOneHeader(h, "Subject");
    (void)h.Values("subject");

    const char letter = (mode & 1) ? 'B' : 'Q';
    const TTransfer transfer = (mode & 2) ? TTransfer::iso2022jp : TTransfer::bit8;
    std::string encoded = EncodeHeaderText(value, "()<>,;:@", letter, transfer, "ISO-8859-1");
    TIdHeaderList e;
    e.SetValue("To", encoded);
    CheckOneHeader(e, "To");

    TIdEMailAddressItem item;
    item.Name = value;
    item.Address = "a@h";
    TIdHeaderList f;
    f.SetValue("From", FormatAddressForHeader(item, true, letter, transfer, "KOI8-R"));
    CheckOneHeader(f, "From");
    h.SetValue("Subject", "");
    if (h.Count() != 0)
        std::abort();
    return 0;
}
