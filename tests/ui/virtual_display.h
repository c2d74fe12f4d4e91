#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ferry::test {

// A private X server (Xvfb) for tests that drive the real program; it picks a free display
// number itself. Start and stop wait a bounded time.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool Running() const { return Pid_ > 0 && !Name_.empty(); }
    // ":<n>", for DISPLAY.
    const std::string& Name() const { return Name_; }
    const std::string& Why() const { return Why_; }

private:
    pid_t Pid_ = -1;
    std::string Name_;
    std::string Why_;
};

// Runs a program with DISPLAY set to `display`, at most `limit`; returns its standard output,
// and its exit code in `code`.
std::string RunOnDisplay(const std::string& display, const std::vector<std::string>& argv,
                         int& code, std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace ferry::test
