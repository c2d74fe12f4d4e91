#include "platform/temporary_names.h"

#include <cctype>

namespace ferry {

namespace {

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    if (name.size() <= suffix.size()) // the suffix alone is a name of its own
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != suffix[i])
            return false;
    return true;
}

} // namespace

bool IsTemporaryName(std::string_view name) {
    // Browsers' downloads in progress (Firefox and others, Chromium, Safari).
    for (const std::string_view suffix : {".part", ".crdownload", ".download"})
        if (EndsWithNoCase(name, suffix))
            return true;
    // Office's owner file beside an open document, LibreOffice's lock file.
    if (name.starts_with("~$"))
        return true;
    if (name.starts_with(".~lock.") && name.ends_with('#'))
        return true;
    // A move across file systems writes under this prefix before the final link.
    return name.starts_with(".~ferrydesk-");
}

} // namespace ferry
