#include "core/routing_pass.h"

#include "base/cancellation.h"
#include "core/case_sensitive_match.h"
#include "core/content_matcher.h"
#include "platform/file_move.h"
#include "platform/files.h"

#include <vector>

namespace ferry {

namespace {

void RunPass(const std::string& source, const std::string& destination, const std::string& mask,
             const std::string& matchString, const bool* caseSensitive,
             const MoveListener& listener) {
    // An empty path would turn into the root folder once the separator is added.
    if (source.empty() || destination.empty())
        return;
    const std::string from = IncludeTrailingSeparator(source);
    const std::string to = IncludeTrailingSeparator(destination);

    // What a killed move left behind: temporaries in the destination, a stashed source here.
    RemoveMoveLeftovers(from);
    if (FolderExists(to))
        RemoveMoveLeftovers(to);

    // The whole listing is taken before anything moves, so moving cannot disturb it.
    std::vector<std::string> names;
    if (!ListFiles(from, mask, names))
        return;
    for (const std::string& name : names) {
        // Work called off stops here, between files: never in the middle of a move.
        ThrowIfThreadCancelled();
        // A temporary or stash of a move in progress is not one of the user's files.
        if (IsMoveTemporary(from + name))
            continue;
        const bool exact = caseSensitive ? *caseSensitive : CaseSensitiveMatch.load();
        if (ScanFileForString(from + name, matchString, exact) < 0)
            continue;
        if (!FolderExists(to))
            continue;
        // A failed move (name taken, file in use) leaves the file for the next pass; the
        // listener hears of the attempt either way. The scan's descriptor is closed by now,
        // so it cannot make the file look in use.
        MoveFileChecked(from + name, to + name);
        if (listener)
            listener();
    }
}

} // namespace

void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString,
                       const MoveListener& listener) {
    RunPass(source, destination, mask, matchString, nullptr, listener);
}

void ProcessTaskFolder(const std::string& source, const std::string& destination,
                       const std::string& mask, const std::string& matchString, bool caseSensitive,
                       const MoveListener& listener) {
    RunPass(source, destination, mask, matchString, &caseSensitive, listener);
}

} // namespace ferry
