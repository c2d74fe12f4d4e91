// Drives the task conditions' matcher for bench/many-tasks:
//
//   conditions_bench match [-i] DIR TASKS   lists DIR and reads each file once for all the
//                                           tasks in the file TASKS (one a line: the kind, a
//                                           tab, the match string); prints each file some
//                                           task takes, as rg -l does. One task of the first
//                                           kind is the content matcher's own scan, as a
//                                           pass of one task does today.
//   conditions_bench pass [-i] DIR TASKS    the program's own pass (RunPass) over the same
//                                           tasks, each a task on DIR into a folder that does
//                                           not exist, so that nothing moves; prints each file
//                                           a task takes (its outcome: destination missing)
//   conditions_bench each [-i] DIR TASKS    the same, reading each file once per task, as the
//                                           pass reads for tasks run one after another
//   conditions_bench time OUT CMD ARGS...   runs CMD with its output in OUT; prints its wall
//                                           and CPU (user + system) seconds

#include "core/conditions/folder_matcher.h"
#include "core/engine.h"
#include "core/pass_list.h"
#include "platform/files.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace ferry;

namespace {

std::vector<TaskConditions> ReadTasks(const std::string& path) {
    std::vector<TaskConditions> tasks;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t tab = line.find('\t');
        if (line.empty() || tab == std::string::npos)
            continue;
        TaskConditions task;
        task.Kind = static_cast<MatchKind>(std::stoul(line.substr(0, tab)));
        task.MatchString = line.substr(tab + 1);
        tasks.push_back(task);
    }
    return tasks;
}

int Match(bool exact, const std::string& dir, const std::string& taskFile, bool oneByOne) {
    const std::vector<TaskConditions> tasks = ReadTasks(taskFile);
    if (tasks.empty()) {
        std::fprintf(stderr, "conditions_bench: no tasks in %s\n", taskFile.c_str());
        return 2;
    }
    std::vector<std::string> names;
    ListFiles(dir, AllFilesMask, names);
    const std::string folder = IncludeTrailingSeparator(dir);
    if (oneByOne) {
        std::vector<std::unique_ptr<FolderMatcher>> each;
        for (const TaskConditions& task : tasks)
            each.push_back(
                std::make_unique<FolderMatcher>(std::vector<TaskConditions>{task}, exact));
        std::vector<bool> taken(names.size());
        for (const auto& matcher : each)
            for (std::size_t i = 0; i < names.size(); ++i)
                if (!taken[i] && matcher->MatchFile(folder + names[i], {true})[0].Holds)
                    taken[i] = true;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (taken[i])
                std::printf("%s%s\n", folder.c_str(), names[i].c_str());
        return 0;
    }
    const FolderMatcher matcher(tasks, exact);
    for (std::size_t t = 0; t < tasks.size(); ++t)
        if (!matcher.Problem(t).empty())
            std::fprintf(stderr, "conditions_bench: task %zu: %s\n", t + 1,
                         matcher.Problem(t).c_str());
    const std::vector<bool> all(tasks.size(), true);
    for (const std::string& name : names) {
        for (const TaskVerdict& verdict : matcher.MatchFile(folder + name, all))
            if (verdict.Holds) {
                std::printf("%s%s\n", folder.c_str(), name.c_str());
                break;
            }
    }
    return 0;
}

class TakenFiles : public PassObserver {
public:
    explicit TakenFiles(std::string folder) : Folder_(std::move(folder)) {}
    void FileEnded(const FileOutcome& o) override {
        std::printf("%s%s\n", Folder_.c_str(), o.File.c_str());
    }
    void PassEnded(const PassEnd& end) override { Failed = static_cast<bool>(end.Error); }
    bool Failed = false;

private:
    std::string Folder_;
};

int Pass(bool exact, const std::string& dir, const std::string& taskFile) {
    const std::vector<TaskConditions> tasks = ReadTasks(taskFile);
    std::vector<TaskRecord> rows;
    for (const TaskConditions& task : tasks) {
        ConditionValues values = task;
        rows.emplace_back("Task " + std::to_string(rows.size() + 1), dir, dir + "/no such folder",
                          task.MatchString, values);
    }
    TakenFiles taken(IncludeTrailingSeparator(dir));
    RunPass(rows, PassRules(exact), taken, CancelFlag());
    return taken.Failed ? 1 : 0;
}

// A child's own times, to the microsecond: what the shell's time cannot give.
int Time(const std::string& out, char** command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0)
            _exit(127);
        execvp(command[0], command);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) < 0)
        return 1;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%.6f %.6f\n", wall, cpu);
    // rg says 1 when it finds nothing.
    return WIFEXITED(status) && WEXITSTATUS(status) <= 1 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 3 && std::string(argv[1]) == "time")
        return Time(argv[2], argv + 3);
    std::vector<std::string> args(argv + 1, argv + argc);
    bool exact = true;
    if (args.size() > 1 && args[1] == "-i") {
        exact = false;
        args.erase(args.begin() + 1);
    }
    try {
        if (args.size() == 3 && args[0] == "pass")
            return Pass(exact, args[1], args[2]);
        if (args.size() == 3 && (args[0] == "match" || args[0] == "each"))
            return Match(exact, args[1], args[2], args[0] == "each");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "conditions_bench: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: see the comment at the top of bench/conditions_bench.cpp\n");
    return 2;
}
