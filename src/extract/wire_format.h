#pragma once

// The bytes that carry a request to the extraction helper and its answer back, and the form
// the text cache stores answers in. Frames are a 4-byte little-endian length and a payload;
// every decoder checks each length against what is left, since the other side may be a
// helper that a hostile file has taken over.

#include "extract/document_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ferry {

// Largest payload either side accepts: the helper's text bound plus room for labels.
constexpr std::size_t MaxFramePayload = 40u << 20;

struct ExtractRequest {
    bool Ocr = false;
    std::string Languages; // "eng+deu"; only letters, digits, '_' and '+'
    bool operator==(const ExtractRequest&) const = default;
};

std::string EncodeRequest(const ExtractRequest& request);
bool DecodeRequest(std::string_view payload, ExtractRequest& out);

std::string EncodeText(const DocumentText& text);
bool DecodeText(std::string_view payload, DocumentText& out);

// The frame header for a payload of `size` bytes.
std::string FrameHeader(std::size_t size);
// The payload length a frame header announces; false when it is over MaxFramePayload.
bool FrameLength(const unsigned char header[4], std::size_t& size);

} // namespace ferry
