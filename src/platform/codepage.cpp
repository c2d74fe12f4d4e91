#include "platform/codepage.h"

#include <array>

namespace ferry {

namespace {

constexpr std::array<unsigned char, 256> MakeUpperTable() {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c);
    for (int c = 'a'; c <= 'z'; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 0x20);
    for (int c = 0xE0; c <= 0xFE; ++c)
        if (c != 0xF7)
            table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 0x20);
    table[0x9A] = 0x8A; // s caron
    table[0x9C] = 0x8C; // oe ligature
    table[0x9E] = 0x8E; // z caron
    table[0xFF] = 0x9F; // y diaeresis
    return table;
}

constexpr std::array<unsigned char, 256> kUpper = MakeUpperTable();

} // namespace

unsigned char CharUpperByte(unsigned char c) {
    return kUpper[c];
}

const unsigned char* CharUpperTable() {
    return kUpper.data();
}

char* CharUpperA(char* text) {
    for (char* p = text; *p; ++p)
        *p = static_cast<char>(kUpper[static_cast<unsigned char>(*p)]);
    return text;
}

std::size_t CharUpperBuffA(char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(kUpper[static_cast<unsigned char>(text[i])]);
    return length;
}

std::string CharUpperString(std::string text) {
    CharUpperBuffA(text.data(), text.size());
    return text;
}

} // namespace ferry
