#pragma once

// The read-and-match and move stages of a task with conditions, or of a task that shares its
// source folder with others: each file is selected by name and age, read once for every task
// of its folder (its bytes, or its text where a task looks inside documents), and given to
// the task if its conditions hold. A dry run goes the same way and stops short of the move.

#include <cstddef>
#include <string>
#include <vector>

#include "core/pass_folders.h"
#include "core/pass_list.h"

namespace ferry {

class PassReport;

// Task `n` of the pass over the files of its source folder, listed by the first task of the
// folder to come to it; `only`, when given, keeps the run to those names.
void RunConditionTask(std::size_t n, const TaskFolders& folders, PassFolders& pass,
                      PassReport& report, const std::vector<std::string>* only = nullptr);

// What matched, for the history: "words: invoice, acme", "PDF text, page 2: ACME-7731".
std::string MatchedText(const TaskVerdict& verdict);

} // namespace ferry
