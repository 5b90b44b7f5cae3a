#pragma once

// Between the program and its clipboard keeper, over one stream socket (the keeper's standard
// input and output): messages of a kind byte, a 64-bit length and that many bytes.
//
//   program -> keeper   program  our selection window (u32): its ownership is the borrow the
//                                keeper stands behind
//                       hold     a selection's contents (a hand-off, see selection_data.h): the
//                                user's, kept in reserve, or served in place of what it serves;
//                                answered with `taken` once the keeper stands by with them
//                       take     a selection's name and a server time (0: now): take it with what
//                                is held, as of that time
//                       moment   a selection's name and the fingerprint of the moment's text the
//                                program has put on it (0: none any more)
//                       fetcher  a selection's name and a client (resource base, process) that
//                                fetched that text from aside, not where it was pasted: a
//                                clipboard manager, whose putting it back is no copy of the user's
//                       leave    the text the program has left on a selection for the person
//                                to paste: how long it stays, what comes back after it, and the
//                                text (a hand-off); should the program go before then, it is
//                                served until then (KeeperLeave); answered with `taken`
//   keeper -> program   ready    the keeper's window (u32)
//                       taken    whether the take took, or the keeper stands by with the
//                                contents held or the text left (one byte)

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/clipboard/selection_data.h"

namespace ravlin::platform::x11 {

enum class KeeperMessage : std::uint8_t {
    program = 'P',
    hold = 'H',
    take = 'T',
    moment = 'M',
    fetcher = 'F',
    leave = 'L',
    ready = 'R',
    taken = 't',
};

struct KeeperFrame {
    KeeperMessage kind = KeeperMessage::ready;
    std::vector<std::uint8_t> payload;

    friend bool operator==(const KeeperFrame&, const KeeperFrame&) = default;
};

[[nodiscard]] std::vector<std::uint8_t> encodeFrame(KeeperMessage kind,
                                                    std::span<const std::uint8_t> payload);

// Frames out of a byte stream, as it comes in pieces. Each frame's payload is gathered in one
// buffer of exactly its size, apart from the bytes that follow it, so that large contents are
// never held twice once their frame is taken. Broken for good at a kind it does not know or a
// length over `maxPayload`.
class KeeperFrameReader {
  public:
    explicit KeeperFrameReader(std::size_t maxPayload) : maxPayload_(maxPayload) {}
    void feed(std::span<const std::uint8_t> bytes);
    // The next whole frame, if one is in.
    [[nodiscard]] std::optional<KeeperFrame> next();
    [[nodiscard]] bool broken() const { return broken_; }

  private:
    std::size_t maxPayload_;
    // The frame being gathered: its header so far, then its payload.
    std::vector<std::uint8_t> header_;
    std::optional<KeeperFrame> gathering_;
    std::size_t payloadSize_ = 0;
    std::deque<KeeperFrame> whole_;
    bool broken_ = false;
};

struct KeeperTake {
    std::string selection;
    std::uint32_t time = 0;  // 0: the server's time now

    friend bool operator==(const KeeperTake&, const KeeperTake&) = default;
};

[[nodiscard]] std::vector<std::uint8_t> encodeTake(const KeeperTake& take);
[[nodiscard]] std::optional<KeeperTake> decodeTake(std::span<const std::uint8_t> bytes);
struct KeeperMoment {
    std::string selection;
    std::uint64_t fingerprint = 0;  // of the text's UTF-8 (textFingerprint); 0: none

    friend bool operator==(const KeeperMoment&, const KeeperMoment&) = default;
};

[[nodiscard]] std::vector<std::uint8_t> encodeMoment(const KeeperMoment& moment);
struct KeeperFetcher {
    std::string selection;
    std::uint32_t base = 0;  // the client's resource base
    std::int32_t pid = 0;    // its process (0: not known)

    friend bool operator==(const KeeperFetcher&, const KeeperFetcher&) = default;
};

[[nodiscard]] std::vector<std::uint8_t> encodeFetcher(const KeeperFetcher& fetcher);
[[nodiscard]] std::optional<KeeperFetcher> decodeFetcher(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::optional<KeeperMoment> decodeMoment(std::span<const std::uint8_t> bytes);
// A text left on a selection for the person to paste, for `milliseconds` from now; after them
// the contents the keeper holds for the selection come back (`thenHeld`), or the selection goes
// to nobody (the person's clipboard was empty). Zero milliseconds: no text is left there any
// more (the program has changed the selection itself since).
struct KeeperLeave {
    std::uint32_t milliseconds = 0;
    bool thenHeld = true;
    SelectionHandOff text;

    friend bool operator==(const KeeperLeave&, const KeeperLeave&) = default;
};

[[nodiscard]] std::vector<std::uint8_t> encodeLeave(const KeeperLeave& leave);
[[nodiscard]] std::optional<KeeperLeave> decodeLeave(std::span<const std::uint8_t> bytes);
// The most bytes a message from the program can hold (a hand-off, or a left text).
[[nodiscard]] std::size_t maxProgramPayload();

// The 64-bit FNV-1a fingerprint of a text's UTF-8 bytes (trailing NULs left out).
[[nodiscard]] std::uint64_t textFingerprint(std::span<const std::uint8_t> utf8);
[[nodiscard]] std::vector<std::uint8_t> encodeWord(std::uint32_t word);
[[nodiscard]] std::optional<std::uint32_t> decodeWord(std::span<const std::uint8_t> bytes);

}  // namespace ravlin::platform::x11
