#include "core/process/output_capture.h"

#include <algorithm>

#include "core/text/unicode.h"

namespace ravlin::process {

namespace {

std::size_t capFrom(std::int64_t maxBytes) {
    return maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 0;
}

}  // namespace

std::string decodeUtf8Lossy(std::string_view bytes) {
    return text::toUtf8(text::toUtf16(bytes));
}

PrefixCapture::PrefixCapture(std::int64_t maxBytes) : maxBytes_(capFrom(maxBytes)) {}

void PrefixCapture::consume(std::string_view chunk) {
    if (output_.size() >= maxBytes_) {
        return;
    }
    output_.append(chunk.substr(0, maxBytes_ - output_.size()));
}

std::string PrefixCapture::text() const {
    return decodeUtf8Lossy(output_);
}

HeadTailCapture::HeadTailCapture(std::int64_t maxBytes) {
    const std::size_t cap = capFrom(maxBytes);
    headLimit_ = cap >= 2 ? cap / 2 : cap;
    tailLimit_ = cap - headLimit_;
}

void HeadTailCapture::consume(std::string_view chunk) {
    if (chunk.empty() || headLimit_ + tailLimit_ == 0) {
        return;
    }
    if (head_.size() < headLimit_) {
        const std::size_t take = std::min(headLimit_ - head_.size(), chunk.size());
        head_.append(chunk.substr(0, take));
        chunk.remove_prefix(take);
        if (chunk.empty()) {
            return;
        }
    }
    if (tailLimit_ < 1) {
        truncated_ += static_cast<std::int64_t>(chunk.size());
        return;
    }
    // Only the last tailLimit_ bytes of the chunk can survive.
    if (chunk.size() > tailLimit_) {
        const std::size_t skipped = chunk.size() - tailLimit_;
        truncated_ += static_cast<std::int64_t>(skipped);
        chunk.remove_prefix(skipped);
    }
    tail_.append(chunk);
    const std::size_t live = tail_.size() - tailStart_;
    if (live > tailLimit_) {
        const std::size_t dropped = live - tailLimit_;
        tailStart_ += dropped;
        truncated_ += static_cast<std::int64_t>(dropped);
    }
    // Compact once the dead bytes outgrow the live ones, so appends stay amortised O(1).
    if (tailStart_ > tailLimit_) {
        tail_.erase(0, tailStart_);
        tailStart_ = 0;
    }
}

std::string HeadTailCapture::bytes() const {
    std::string result = head_;
    if (truncated_ > 0) {
        result += "\n...[truncated " + std::to_string(truncated_) + " bytes]...\n";
    }
    result.append(tail_, tailStart_, std::string::npos);
    return result;
}

std::string HeadTailCapture::text() const {
    return decodeUtf8Lossy(bytes());
}

}  // namespace ravlin::process
