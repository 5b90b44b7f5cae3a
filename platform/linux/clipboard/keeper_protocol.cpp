#include "platform/linux/clipboard/keeper_protocol.h"

#include <cstring>

namespace ravlin::platform::x11 {
namespace {

constexpr std::size_t headerBytes = 1 + 8;

bool knownKind(std::uint8_t kind) {
    switch (static_cast<KeeperMessage>(kind)) {
        case KeeperMessage::program:
        case KeeperMessage::hold:
        case KeeperMessage::take:
        case KeeperMessage::moment:
        case KeeperMessage::ready:
        case KeeperMessage::taken:
            return true;
    }
    return false;
}

}  // namespace

std::vector<std::uint8_t> encodeFrame(KeeperMessage kind, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame(headerBytes + payload.size());
    frame[0] = static_cast<std::uint8_t>(kind);
    const std::uint64_t size = payload.size();
    std::memcpy(frame.data() + 1, &size, sizeof size);
    if (!payload.empty()) {
        std::memcpy(frame.data() + headerBytes, payload.data(), payload.size());
    }
    return frame;
}

void KeeperFrameReader::feed(std::span<const std::uint8_t> bytes) {
    if (broken_) {
        return;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
    // Room for the whole of a frame once its length is known, and no more: large contents are
    // kept in as few copies as can be.
    if (buffer_.size() < headerBytes && buffer_.size() + bytes.size() >= headerBytes) {
        std::uint64_t size = 0;
        std::vector<std::uint8_t> header(buffer_);
        header.insert(header.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(
                                                                      headerBytes - buffer_.size()));
        std::memcpy(&size, header.data() + 1, sizeof size);
        if (size <= maxPayload_) {
            buffer_.reserve(headerBytes + static_cast<std::size_t>(size));
        }
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<KeeperFrame> KeeperFrameReader::next() {
    const std::size_t left = buffer_.size() - consumed_;
    if (broken_ || left < headerBytes) {
        return std::nullopt;
    }
    const std::uint8_t* at = buffer_.data() + consumed_;
    std::uint64_t size = 0;
    std::memcpy(&size, at + 1, sizeof size);
    if (!knownKind(at[0]) || size > maxPayload_) {
        broken_ = true;
        return std::nullopt;
    }
    if (left - headerBytes < size) {
        return std::nullopt;
    }
    if (consumed_ == 0 && left == headerBytes + size) {
        // The frame is all there is: its bytes move out rather than being copied.
        const auto kind = static_cast<KeeperMessage>(at[0]);
        buffer_.erase(buffer_.begin(), buffer_.begin() + headerBytes);
        KeeperFrame frame{kind, std::move(buffer_)};
        buffer_ = {};
        return frame;
    }
    KeeperFrame frame{static_cast<KeeperMessage>(at[0]),
                      std::vector<std::uint8_t>(at + headerBytes, at + headerBytes + size)};
    consumed_ += headerBytes + static_cast<std::size_t>(size);
    if (consumed_ == buffer_.size()) {
        buffer_ = {};  // its memory too: a keeper holds on to the contents alone
        consumed_ = 0;
    }
    return frame;
}

std::uint64_t textFingerprint(std::span<const std::uint8_t> utf8) {
    while (!utf8.empty() && utf8.back() == 0) {
        utf8 = utf8.first(utf8.size() - 1);
    }
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const auto byte : utf8) {
        hash = (hash ^ byte) * 0x100000001b3ULL;
    }
    return hash;
}

std::vector<std::uint8_t> encodeWord(std::uint32_t word) {
    std::vector<std::uint8_t> bytes(4);
    std::memcpy(bytes.data(), &word, 4);
    return bytes;
}

std::optional<std::uint32_t> decodeWord(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != 4) {
        return std::nullopt;
    }
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data(), 4);
    return word;
}

std::vector<std::uint8_t> encodeMoment(const KeeperMoment& moment) {
    std::vector<std::uint8_t> bytes(8);
    std::memcpy(bytes.data(), &moment.fingerprint, 8);
    bytes.insert(bytes.end(), moment.selection.begin(), moment.selection.end());
    return bytes;
}

std::optional<KeeperMoment> decodeMoment(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 9 || bytes.size() > 8 + maxNameBytes) {
        return std::nullopt;
    }
    KeeperMoment moment;
    std::memcpy(&moment.fingerprint, bytes.data(), 8);
    moment.selection.assign(bytes.begin() + 8, bytes.end());
    return moment;
}

std::vector<std::uint8_t> encodeTake(const KeeperTake& take) {
    auto bytes = encodeWord(take.time);
    bytes.insert(bytes.end(), take.selection.begin(), take.selection.end());
    return bytes;
}

std::optional<KeeperTake> decodeTake(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 5 || bytes.size() > 4 + maxNameBytes) {
        return std::nullopt;
    }
    KeeperTake take;
    take.time = *decodeWord(bytes.first(4));
    take.selection.assign(bytes.begin() + 4, bytes.end());
    return take;
}

}  // namespace ravlin::platform::x11
