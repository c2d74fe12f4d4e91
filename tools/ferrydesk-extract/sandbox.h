#pragma once

// The fences the extraction helper puts up around itself before it reads a file: bounded
// memory and file descriptors, no core dumps or files written, no network, no programs
// started, and a CPU-time bound renewed for each file.

namespace ferry {

// Memory the helper may map; a file that needs more fails as "over the memory bound".
constexpr unsigned long HelperAddressSpace = 512ul << 20;
// CPU seconds one file may take, without and with OCR.
constexpr int FileCpuSeconds = 30;
constexpr int OcrFileCpuSeconds = 300;

struct SandboxState {
    bool NetworkNamespace = false; // a network namespace of its own, with no interface up
    bool SyscallFilter = false;    // socket() and exec refused by a seccomp filter
};

SandboxState EnterSandbox();

// The CPU time left for the next file; past it the kernel ends the helper with SIGXCPU.
void AllowCpuSeconds(int seconds);

} // namespace ferry
