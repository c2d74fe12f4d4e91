#pragma once

// The kind of a file told from its first bytes, never from its name. A zip is only a
// candidate: which office format it is (if any) shows in its parts, read by the helper.

#include <cstddef>

namespace ferry {

enum class DocumentKind {
    None,
    Pdf,
    Zip,
    Rtf,
    Utf16Le,
    Utf16Be,
    Html,
    Mail,
    Png,
    Jpeg,
    Tiff,
};

// How many leading bytes SniffKind wants to see (fewer for a shorter file).
constexpr std::size_t SniffBytes = 4096;

DocumentKind SniffKind(const unsigned char* head, std::size_t size);

inline bool IsImageKind(DocumentKind k) {
    return k == DocumentKind::Png || k == DocumentKind::Jpeg || k == DocumentKind::Tiff;
}

} // namespace ferry
