#include "doctext/text_sink.h"

namespace ferry {

void TextSink::Add(std::string label, std::string text) {
    if (text.size() > Left())
        throw ReadFailure(UnreadableReason::OverSizeBound);
    Used_ += text.size();
    Text_.Pieces.push_back({std::move(label), std::move(text)});
}

DocumentText TextSink::Take() {
    return std::move(Text_);
}

} // namespace ferry
