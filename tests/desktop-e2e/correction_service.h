#pragma once

// The online correction service as the program meets it, on 127.0.0.1: the generic endpoint
// (one JSON reply, {"correctedText": ...}, sent in pieces) at url(), and the hosted service's
// streamed reply (server-sent events of output-text deltas, then the done event and "[DONE]")
// under hostedBase() + "/ravlin-cloud". It corrects the text it is asked about (not the context
// sent with it) by a table of replacements, or fails, stalls or cuts its answer short, as the
// test says; it may take its time before answering, stream slowly, or chat before the text.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/loopback_http_server.h"

namespace ravlin::testing {

class RavlinProgram;

class CorrectionService {
  public:
    enum class Behaviour {
        correct,  // the input with the replacements made, in pieces
        fail,     // HTTP 500 with an error body
        stall,    // accepts the request and never answers
        cut,      // the first half of the answer's deltas, then the body ends: no done event,
                  // no "[DONE]", as when the connection is cut (hosted service only)
        rateLimit,  // HTTP 429 with "Retry-After: 30": too many requests, ask again later
    };

    CorrectionService();

    void setBehaviour(Behaviour behaviour);
    // Every occurrence of `wrong` in an input becomes `right` in the answer.
    void replace(std::string wrong, std::string right);
    // How long the service thinks before its first delta (the head goes out at once).
    void setDelay(std::chrono::milliseconds delay);
    // The answer goes out in this many deltas, `gap` apart (3 and 40 ms unless told).
    void setPacing(std::size_t pieces, std::chrono::milliseconds gap);
    // What the hosted answer says before the corrected text, as a chatty model does.
    void setPreamble(std::string preamble);
    // The hosted answer to a text sent with context starts as a sentence, as models answer a
    // text that starts mid-sentence: the context, corrected, in front of the text, whose first
    // letter becomes a capital.
    void setAnswersWithTheContext(bool withContext);
    // The hosted answer to a piece of a sentence (a text that ends with a comma, a semicolon, a
    // colon or a dash) is a sentence, as models answer a fragment: a full stop in place of the
    // mark; and a text sent with context starts with a capital.
    void setAnswersPiecesAsSentences(bool asSentences);
    // The hosted answer to a text sent with context repeats the context, corrected, in front of
    // the text, as models may answer the rest of a sentence: its first letter small, one space,
    // then the text as corrected.
    void setRepeatsTheContextInLowerCase(bool repeats);
    // The text each correction request to the hosted service asked about, in order.
    [[nodiscard]] std::vector<std::string> hostedTexts() const;

    // The generic endpoint's address.
    [[nodiscard]] std::string url() const { return server_.url("/v1/correct"); }
    // The hosted service's functions address (the program appends "/ravlin-cloud").
    [[nodiscard]] std::string hostedBase() const { return server_.url("/functions/v1"); }
    [[nodiscard]] std::size_t requestCount() const { return server_.requestCount(); }
    [[nodiscard]] std::vector<RecordedRequest> requests() const { return server_.requests(); }

    // Points the program's online settings at this service through its environment, as a user
    // would configure it: the generic endpoint with a model and key, and the hosted service.
    void configure(RavlinProgram& program) const;

    // The answer to one input under the current replacements.
    [[nodiscard]] std::string corrected(std::string input) const;

  private:
    ScriptedReply reply(const RecordedRequest& request) const;

    mutable std::mutex mutex_;
    Behaviour behaviour_ = Behaviour::correct;
    std::map<std::string, std::string> replacements_;
    std::chrono::milliseconds delay_{0};
    std::size_t pieces_ = 3;
    std::chrono::milliseconds gap_{40};
    std::string preamble_;
    bool withContext_ = false;
    bool piecesAsSentences_ = false;
    bool contextInLowerCase_ = false;
    LoopbackHttpServer server_;  // last: its thread stops before the state above goes
};

}  // namespace ravlin::testing
