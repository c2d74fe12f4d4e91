#pragma once

#include <cstddef>
#include <string>

namespace ferry {

// Upper-casing by the system's ANSI code page, one byte at a time. The code page here is
// Windows-1252: besides a-z it folds the accented letters at 0xE0-0xFE (not 0xF7, the
// division sign) and the four letters 0x9A, 0x9C, 0x9E and 0xFF onto their capitals.
// Letters whose capital is not in the code page (0xB5 micro, 0xDF sharp s, 0x83 f-hook)
// stay as they are.
unsigned char CharUpperByte(unsigned char c);

// The whole 256-byte table, for callers that fold in bulk.
const unsigned char* CharUpperTable();

// Upper-cases a NUL-terminated text in place, stopping at its NUL, and returns it.
char* CharUpperA(char* text);

// Upper-cases exactly `length` bytes in place (NUL bytes included) and returns the count.
std::size_t CharUpperBuffA(char* text, std::size_t length);

// Upper-cased copy of a text.
std::string CharUpperString(std::string text);

} // namespace ferry
