#include "core/pass_match.h"

#include "base/exception.h"
#include "core/content_matcher.h"
#include "core/read_ahead.h"
#include "platform/exclusive_open.h"
#include "platform/file_move.h"
#include "platform/system_errors.h"

#include <system_error>

namespace ferry {

MatchedFile::MatchedFile() = default;
MatchedFile::~MatchedFile() = default;
MatchedFile::MatchedFile(MatchedFile&&) noexcept = default;
MatchedFile& MatchedFile::operator=(MatchedFile&&) noexcept = default;

ContentMatch::ContentMatch(const TaskFolders& folders, const FolderListing& listing,
                           const std::string& matchString, const PassRules& rules, MoveBatch& batch)
    : Folders_(folders), Listing_(listing), Match_(matchString), Exact_(rules.CaseSensitive) {
    if (Listing_.Names.size() < 2)
        return;
    try {
        Ahead_ = std::make_unique<ReadAhead>(Folders_.From, Listing_.Names, Match_, Exact_,
                                             Folders_.To, &batch);
    } catch (const std::system_error&) {
        return; // no thread to be had: each file is read at its turn
    }
    batch.CloseWith([ahead = Ahead_.get()](int fd, bool lease) { ahead->Close(fd, lease); });
}

ContentMatch::~ContentMatch() = default;

bool ContentMatch::Next(std::size_t index, MatchedFile& file) {
    if (Ahead_) {
        if (std::unique_ptr<ReadAhead::Scanned> early = Ahead_->Take(index)) {
            if (early->Result < 0) {
                early->File->Close();
                return false;
            }
            file.File = std::move(early->File);
            file.Copy = std::move(early->Copy);
            file.ReadAhead = true;
            return true;
        }
    }
    return Read(index, file);
}

bool ContentMatch::Again(std::size_t index, MatchedFile& file) {
    return Read(index, file);
}

bool ContentMatch::Read(std::size_t index, MatchedFile& file) {
    file = MatchedFile();
    try {
        file.File = std::make_unique<ReadOnlyFile>(Folders_.From + Listing_.Names[index],
                                                   ReadOnlyFile::Purpose::ForMove);
    } catch (const EInOutError& e) {
        // Gone since the listing (another copy of the program moved it, its owner deleted
        // it): none of the folder's files any more, and nothing is done with it.
        if (e.ErrorCode == ERROR_FILE_NOT_FOUND)
            return false;
        throw;
    }
    if (ScanOpenFile(*file.File, Match_, Exact_) < 0) {
        file.File->Close();
        return false;
    }
    return true;
}

} // namespace ferry
