#include "core/conditions/file_selection.h"

#include <algorithm>

namespace ferry {

namespace {

WallClock::time_point FromTimespec(const timespec& t) {
    return WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(
        std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)));
}

std::string Minutes(int64_t n) {
    return std::to_string(n) + (n == 1 ? " minute" : " minutes");
}

} // namespace

FileFacts FileFacts::FromStat(std::string name, const struct stat& st) {
    return FileFacts{std::move(name), std::max(FromTimespec(st.st_mtim), FromTimespec(st.st_ctim))};
}

FileSelector::FileSelector(const TaskConditions& conditions, const TextReader& reader)
    : Names_(conditions.NamePattern, reader), NameText_(conditions.NamePattern),
      MinAgeMinutes_(conditions.MinAgeMinutes) {}

Selection FileSelector::Check(const FileFacts& file, WallClock::time_point now) const {
    if (!Names_.Matches(file.Name))
        return {false, "the name does not match " + NameText_};
    if (MinAgeMinutes_ > 0) {
        // A time ahead of the clock counts as just changed.
        const auto age = std::max(now - file.Changed, WallClock::duration::zero());
        if (age < std::chrono::minutes(MinAgeMinutes_)) {
            const int64_t whole = std::chrono::duration_cast<std::chrono::minutes>(age).count();
            return {false, "unchanged for " + Minutes(whole) + " of the " +
                               Minutes(MinAgeMinutes_) + " the task waits"};
        }
    }
    return {};
}

} // namespace ferry
