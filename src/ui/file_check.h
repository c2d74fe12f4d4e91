#pragma once

// "Test on a file…" of the Task Conditions window: whether one task would take one file, and
// why not, from the same select and match stages a pass runs. No Qt here: the window runs it
// on a worker thread and shows what it returns.

#include <chrono>
#include <string>
#include <vector>

#include "core/conditions/task_conditions.h"

namespace ferry {

class DocumentReader;

// One thing the task found, with some text on either side of it.
struct FoundInContext {
    std::string What;    // the word, phrase or matched text, in the system code page
    std::string Where;   // "PDF text, page 2", or "byte 1234" in the file's bytes
    std::string Before;  // the text before it ...
    std::string Matched; // ... the found text itself as the file has it ...
    std::string After;   // ... and after it
    bool Utf8 = false;   // the three texts are document text (UTF-8), not the code page
    bool MoreBefore = false, MoreAfter = false; // the text goes on beyond what is shown
};

struct FileCheck {
    bool Taken = false;
    // Why not, in a person's words (system code page); empty when taken.
    std::string Reason;
    // What the task found: why it is taken, or what it found all the same.
    std::vector<FoundInContext> Found;
};

// Checks the file at `path` against one task's conditions, as a pass starting at `now` would.
// `documents` reads the text of documents when the task looks inside them; `ocrLanguages` as
// the settings give them. Raises only what the caller cannot have foreseen (EInOutError when
// the file cannot be read).
FileCheck CheckFile(const TaskConditions& conditions, bool caseSensitive, const std::string& path,
                    DocumentReader& documents, const std::string& ocrLanguages,
                    std::chrono::system_clock::time_point now);

// The library's message when the task's match string is a regular expression that does not
// compile; empty otherwise.
std::string PatternError(const TaskConditions& conditions);

// How many bytes of context are shown on either side of a find.
constexpr std::size_t ContextBytes = 40;

} // namespace ferry
