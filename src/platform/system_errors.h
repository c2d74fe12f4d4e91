#pragma once

// The Windows system error codes the file layer reports, and their texts.

#include <string>

namespace ferry {

// The Windows system error codes the file layer reports. The program's error texts are
// keyed by these numbers, so the POSIX errno values are translated to them by meaning.
constexpr int ERROR_SUCCESS = 0;
constexpr int ERROR_FILE_NOT_FOUND = 2;
constexpr int ERROR_PATH_NOT_FOUND = 3;
constexpr int ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr int ERROR_ACCESS_DENIED = 5;
constexpr int ERROR_INVALID_HANDLE = 6;
constexpr int ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr int ERROR_NOT_SAME_DEVICE = 17;
constexpr int ERROR_WRITE_PROTECT = 19;
constexpr int ERROR_NOT_READY = 21;
constexpr int ERROR_GEN_FAILURE = 31;
constexpr int ERROR_SHARING_VIOLATION = 32;
constexpr int ERROR_LOCK_VIOLATION = 33;
constexpr int ERROR_HANDLE_EOF = 38;
constexpr int ERROR_NOT_SUPPORTED = 50;
constexpr int ERROR_FILE_EXISTS = 80;
constexpr int ERROR_INVALID_PARAMETER = 87;
constexpr int ERROR_DISK_FULL = 112;
constexpr int ERROR_INVALID_NAME = 123;
constexpr int ERROR_NEGATIVE_SEEK = 131;
constexpr int ERROR_DIR_NOT_EMPTY = 145;
constexpr int ERROR_ALREADY_EXISTS = 183;
constexpr int ERROR_FILENAME_EXCED_RANGE = 206;
constexpr int ERROR_FILE_TOO_LARGE = 223;
constexpr int ERROR_DIRECTORY = 267;
constexpr int ERROR_IO_DEVICE = 1117;
constexpr int ERROR_CANT_RESOLVE_FILENAME = 1921;

// errno -> Windows system error code. ENOENT gives ERROR_FILE_NOT_FOUND; callers that know
// the containing folder is missing report ERROR_PATH_NOT_FOUND instead (see files.h).
int SystemErrorFromErrno(int err);

} // namespace ferry
