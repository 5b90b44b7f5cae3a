#pragma once

// The reading of an OpenAI reply stream: one line at a time into events, and the events folded
// into the corrected text and its usage, with the failures that end a stream.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/providers/openai/openai_wire.h"
#include "core/records/provider_records.h"

namespace ravlin {

// Why an OpenAI stream ended in failure; each case has its fixed failure text.
struct QNErrorOpenAIStreaming {
    enum class Kind { failed, malformed, idleTimeout, payloadTooLarge, totalDeadlineExceeded };
    Kind kind = Kind::failed;
    std::string message;  // for `failed`

    [[nodiscard]] static QNErrorOpenAIStreaming failed(std::string message) {
        return {Kind::failed, std::move(message)};
    }
    [[nodiscard]] static QNErrorOpenAIStreaming of(Kind kind) { return {kind, {}}; }

    // `failed`: its message unchanged; `malformed`: "OpenAI malformed stream"; `idleTimeout`:
    // "OpenAI idle timeout"; `payloadTooLarge`: "OpenAI event payload too large";
    // `totalDeadlineExceeded`: "OpenAI total stream deadline exceeded".
    [[nodiscard]] std::string failureText() const;

    friend bool operator==(const QNErrorOpenAIStreaming&, const QNErrorOpenAIStreaming&) = default;
};

struct QNParserOpenAIStreamEvent {
    static constexpr std::int64_t kMaxEventByteSize = 262144;

    // What one line of the reply amounts to.
    struct Line {
        enum class Kind {
            none,             // blank, not a "data:" line, or "[DONE]"
            event,            // `event` holds the decoded event
            payloadTooLarge,  // the line or its payload is longer than the limit
            undecodable,      // the payload is not an event ("OpenAI malformed response")
        };
        Kind kind = Kind::none;
        std::optional<QNModelOpenAIStreamEvent> event;
    };

    // The corrected text accumulated so far (UTF-8).
    std::string output;
    // Counts the changes of `output`, so a reader can tell a change without comparing texts.
    std::uint64_t outputRevision = 0;
    // The usage of the correction, once a completed event has reported one.
    std::optional<QNModelCorrectionUsage> usage;
    // Whether the service said the text is whole ("response.output_text.done" or
    // "response.completed"). Every answer ends with one of them or with a failure event, so a
    // body that ends without either was cut short.
    bool answerEnded = false;
    std::int64_t maxEventByteSize = kMaxEventByteSize;

    // One line of the reply, as the line reader gives it. A line is trimmed of white space and
    // line breaks; only "data:" lines carry events, whose payload is the rest of the line
    // trimmed of spaces and tabs; "[DONE]" carries none. Lines are never joined.
    [[nodiscard]] Line parseLine(std::string_view line) const;

    // Applies one event, by its exact type:
    //   "response.output_text.delta"  appends `delta`;
    //   "response.output_text.done"   a non-empty `text` replaces the output; the answer ended;
    //   "response.completed"          the answer ended; the usage comes from the first of
    //   response.usage,
    //                                 response.metadata, usage and metadata that holds a token
    //                                 count (the four counts, no credits);
    //   "response.failed", "response.incomplete", "error"   end the stream with their failure
    //                                 text;
    //   any other type is ignored. Returns the failure, if any.
    [[nodiscard]] std::optional<QNErrorOpenAIStreaming> consume(
        const QNModelOpenAIStreamEvent& event);
};

}  // namespace ravlin
