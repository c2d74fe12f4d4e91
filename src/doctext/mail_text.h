#pragma once

// The text of a mail file (.eml): its decoded Subject and From, and every text part of its
// body (plain or HTML, base64 or quoted-printable, in its own character set), through
// multipart nesting and attached messages. Attachments that are not text are left out.

#include "doctext/text_sink.h"

#include <string_view>

namespace ferry {

// Pieces: "e-mail subject", "e-mail sender", "e-mail body" (one per text part).
void ReadMail(std::string_view message, TextSink& sink);

} // namespace ferry
