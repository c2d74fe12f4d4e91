#pragma once

// The .reg text files the registry editors exchange, for ferrydesk-reg's export and import (the
// program itself never reads them): the 8-bit "REGEDIT4" form and the UTF-16 "Windows Registry
// Editor Version 5.00" form. Strings in our hives are text in the system code page
// (platform/codepage); the UTF-16 form is converted to and from it. Read in reg_file_read.cpp,
// written (and taken from and put into the registry) in reg_file_write.cpp.

#include "platform/registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace ferry {

struct RegFileValue {
    std::string Name; // "" is the key's default value, written "@"
    bool Delete = false;
    DWORD Type = REG_NONE;
    std::string Data; // raw bytes as stored in the hive
    int Line = 0;
};

struct RegFileKey {
    HKEY Root = nullptr;
    std::string Path; // below the root, backslash separated; "" is the root itself
    bool Delete = false;
    std::vector<RegFileValue> Values;
    int Line = 0;
};

struct RegFile {
    std::vector<RegFileKey> Keys;
};

// Reads a whole .reg file. On the first malformed line, returns false with error saying
// "Line N: ..." and leaves out untouched, so that nothing of a bad file is ever applied.
bool ParseRegFile(std::string_view bytes, RegFile& out, std::string& error);

// Writes the file in the UTF-16 form (with its byte-order mark) or the 8-bit REGEDIT4 form.
// Values are written in their readable form only where reading it back gives the same bytes;
// otherwise as hex(type). Fails only for a name that the format cannot hold (a line break).
bool WriteRegFile(const RegFile& file, bool unicode, std::string& bytes, std::string& error);

// Reads a key and everything below it from the registry, in enumeration order.
LONG CollectRegTree(HKEY root, const std::string& path, RegFile& out);

// Applies a parsed file: creates keys, sets and deletes values, deletes [-key] trees.
// Stops at the first failure, returning its code; error says which key or value.
LONG ApplyRegFile(const RegFile& file, std::string& error);

// The full name of a key as the files and the command line show it: "HKEY_LOCAL_MACHINE\...".
std::string RegFullKeyName(HKEY root, const std::string& path);

} // namespace ferry
