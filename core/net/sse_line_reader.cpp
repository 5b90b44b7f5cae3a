#include "core/net/sse_line_reader.h"

#include <cstring>

#include "core/text/utf8.h"

namespace ravlin::net {

namespace {
constexpr std::size_t kInitialLineCapacity = 4096;
}

SseLineReader::SseLineReader(SseByteSource& source, std::int64_t maxLineBytes)
    : source_(source), maxLineBytes_(maxLineBytes < 0 ? 0 : maxLineBytes) {}

std::optional<std::string_view> SseLineReader::decodeLine(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\r') {
        bytes.remove_suffix(1);
    }
    if (!text::isValidUtf8(bytes)) {
        return std::nullopt;
    }
    return bytes;
}

SseLineStatus SseLineReader::finish(std::string_view bytes, std::string_view& line) {
    const auto decoded = decodeLine(bytes);
    if (!decoded) {
        return SseLineStatus::malformed;
    }
    line = *decoded;
    return SseLineStatus::line;
}

SseLineStatus SseLineReader::readLine(std::string_view& line) {
    const auto limit = static_cast<std::size_t>(maxLineBytes_);
    buffer_.clear();
    bool buffering = false;
    while (true) {
        if (pending_.empty()) {
            if (ended_) {
                return buffering ? finish(buffer_, line) : SseLineStatus::end;
            }
            const SseByteChunk chunk = source_.next();
            if (chunk.kind == SseByteChunk::Kind::failed) {
                buffer_.clear();
                return SseLineStatus::sourceFailed;
            }
            if (chunk.kind == SseByteChunk::Kind::end || chunk.bytes.empty()) {
                if (chunk.kind == SseByteChunk::Kind::end) {
                    ended_ = true;
                }
                continue;
            }
            pending_ = chunk.bytes;
        }
        const void* found = std::memchr(pending_.data(), '\n', pending_.size());
        if (found != nullptr) {
            const auto length =
                static_cast<std::size_t>(static_cast<const char*>(found) - pending_.data());
            const std::size_t held = buffering ? buffer_.size() : 0;
            if (held + length > limit) {
                buffer_.clear();
                pending_ = pending_.substr(length + 1);
                return SseLineStatus::payloadTooLarge;
            }
            const std::string_view piece = pending_.substr(0, length);
            pending_.remove_prefix(length + 1);
            if (!buffering) {
                return finish(piece, line);  // the whole line lies in one delivery: no copy
            }
            buffer_.append(piece);
            return finish(buffer_, line);
        }
        // No line feed in what is at hand: the line continues in the next delivery.
        const std::size_t held = buffering ? buffer_.size() : 0;
        if (held + pending_.size() > limit) {
            buffer_.clear();
            pending_ = {};
            return SseLineStatus::payloadTooLarge;
        }
        if (!buffering) {
            buffer_.reserve(kInitialLineCapacity);
            buffering = true;
        }
        buffer_.append(pending_);
        pending_ = {};
    }
}

}  // namespace ravlin::net
