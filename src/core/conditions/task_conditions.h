#pragma once

// What a task asks of a file beyond its folders: how its match string is read (one piece of
// text, any or all of its words, an exact phrase, a regular expression), which words keep a
// file out, which names it takes and how long a file must have been left alone. Every value
// at its default is what a task has always done: the match string as one piece of text
// anywhere in the file's bytes, every file of the folder.

#include <cstdint>
#include <string>
#include <utility>

namespace ferry {

// Stored as a DWORD; a value outside these is kept as read and makes the task take nothing.
enum class MatchKind : uint32_t {
    Text = 0,     // the match string as one piece of text, anywhere
    AnyWord = 1,  // any of its words, as whole words
    AllWords = 2, // all of its words, in any order
    Phrase = 3,   // its words in order, as whole words, white space between them
    Pattern = 4,  // a regular expression
};

bool IsKnownMatchKind(MatchKind kind);

// What a task holds beyond its four columns, kept with it in the table and stored as values
// of its Entry key; a value at its default is not stored at all.
struct ConditionValues {
    MatchKind Kind = MatchKind::Text;
    // Words or "quoted phrases"; a file holding any of them is not taken.
    std::string ExcludeString;
    // "*.pdf;scan-??.png"; empty takes every name.
    std::string NamePattern;
    // Files changed less than this many minutes ago are left for a later pass.
    uint32_t MinAgeMinutes = 0;
    // 0: the file's bytes; 1: the text of documents where a file is one; 2: scanned pages too.
    uint32_t LookIn = 0;

    bool operator==(const ConditionValues&) const = default;
    // Every value at its default: the task does what tasks have always done.
    bool Plain() const { return *this == ConditionValues{}; }
};

struct TaskConditions : ConditionValues {
    std::string MatchString; // in the system code page, as the task table holds it

    TaskConditions() = default;
    TaskConditions(std::string matchString, const ConditionValues& values)
        : ConditionValues(values), MatchString(std::move(matchString)) {}

    bool operator==(const TaskConditions&) const = default;
};

} // namespace ferry
