#include "platform/linux/clipboard/keeper_protocol.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ravlin::platform::x11 {
namespace {

constexpr std::size_t headerBytes = 1 + 8;

bool knownKind(std::uint8_t kind) {
    switch (static_cast<KeeperMessage>(kind)) {
        case KeeperMessage::program:
        case KeeperMessage::hold:
        case KeeperMessage::take:
        case KeeperMessage::moment:
        case KeeperMessage::fetcher:
        case KeeperMessage::leave:
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
    while (!bytes.empty() && !broken_) {
        if (!gathering_) {
            const auto take = std::min(headerBytes - header_.size(), bytes.size());
            header_.insert(header_.end(), bytes.begin(),
                           bytes.begin() + static_cast<std::ptrdiff_t>(take));
            bytes = bytes.subspan(take);
            if (header_.size() < headerBytes) {
                return;
            }
            std::uint64_t size = 0;
            std::memcpy(&size, header_.data() + 1, sizeof size);
            if (!knownKind(header_[0]) || size > maxPayload_) {
                broken_ = true;
                return;
            }
            gathering_ = KeeperFrame{static_cast<KeeperMessage>(header_[0]), {}};
            payloadSize_ = static_cast<std::size_t>(size);
            gathering_->payload.reserve(payloadSize_);
            header_.clear();
        }
        auto& payload = gathering_->payload;
        const auto take = std::min(payloadSize_ - payload.size(), bytes.size());
        payload.insert(payload.end(), bytes.begin(),
                       bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (payload.size() == payloadSize_) {
            whole_.push_back(std::move(*gathering_));
            gathering_.reset();
        }
    }
}

std::optional<KeeperFrame> KeeperFrameReader::next() {
    if (whole_.empty()) {
        return std::nullopt;
    }
    auto frame = std::move(whole_.front());
    whole_.pop_front();
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

namespace {

// A message of a number of fixed size, then a selection's name (not empty, at most
// maxNameBytes).
template <typename Number>
std::vector<std::uint8_t> numberThenName(Number number, const std::string& name) {
    std::vector<std::uint8_t> bytes(sizeof number);
    std::memcpy(bytes.data(), &number, sizeof number);
    bytes.insert(bytes.end(), name.begin(), name.end());
    return bytes;
}

template <typename Number>
std::optional<std::pair<Number, std::string>> numberAndName(std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= sizeof(Number) || bytes.size() > sizeof(Number) + maxNameBytes) {
        return std::nullopt;
    }
    Number number{};
    std::memcpy(&number, bytes.data(), sizeof number);
    return std::pair{number, std::string(bytes.begin() + sizeof number, bytes.end())};
}

}  // namespace

std::vector<std::uint8_t> encodeMoment(const KeeperMoment& moment) {
    return numberThenName(moment.fingerprint, moment.selection);
}

std::optional<KeeperMoment> decodeMoment(std::span<const std::uint8_t> bytes) {
    const auto decoded = numberAndName<std::uint64_t>(bytes);
    return decoded ? std::optional(KeeperMoment{decoded->second, decoded->first}) : std::nullopt;
}

std::vector<std::uint8_t> encodeFetcher(const KeeperFetcher& fetcher) {
    const std::uint64_t client = (std::uint64_t{fetcher.base} << 32) |
                                 static_cast<std::uint32_t>(fetcher.pid);
    return numberThenName(client, fetcher.selection);
}

std::optional<KeeperFetcher> decodeFetcher(std::span<const std::uint8_t> bytes) {
    const auto decoded = numberAndName<std::uint64_t>(bytes);
    if (!decoded) {
        return std::nullopt;
    }
    return KeeperFetcher{decoded->second, static_cast<std::uint32_t>(decoded->first >> 32),
                         static_cast<std::int32_t>(decoded->first & 0xffffffffU)};
}

namespace {

constexpr std::size_t leaveHeaderBytes = sizeof(std::uint32_t) + 1;

}  // namespace

std::vector<std::uint8_t> encodeLeave(const KeeperLeave& leave) {
    std::vector<std::uint8_t> bytes(leaveHeaderBytes);
    std::memcpy(bytes.data(), &leave.milliseconds, sizeof leave.milliseconds);
    bytes[sizeof leave.milliseconds] = leave.thenHeld ? 1 : 0;
    const auto text = encodeHandOff(leave.text);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::optional<KeeperLeave> decodeLeave(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < leaveHeaderBytes || bytes[sizeof(std::uint32_t)] > 1) {
        return std::nullopt;
    }
    KeeperLeave leave;
    std::memcpy(&leave.milliseconds, bytes.data(), sizeof leave.milliseconds);
    leave.thenHeld = bytes[sizeof(std::uint32_t)] == 1;
    auto text = decodeHandOff(bytes.subspan(leaveHeaderBytes), {});
    if (!text) {
        return std::nullopt;
    }
    leave.text = std::move(*text);
    return leave;
}

std::size_t maxProgramPayload() {
    return maxHandOffBytes({}) + leaveHeaderBytes;
}

std::vector<std::uint8_t> encodeTake(const KeeperTake& take) {
    return numberThenName(take.time, take.selection);
}

std::optional<KeeperTake> decodeTake(std::span<const std::uint8_t> bytes) {
    const auto decoded = numberAndName<std::uint32_t>(bytes);
    return decoded ? std::optional(KeeperTake{decoded->second, decoded->first}) : std::nullopt;
}

}  // namespace ravlin::platform::x11
