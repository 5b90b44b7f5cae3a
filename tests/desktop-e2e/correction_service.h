#pragma once

// The online correction service as the program meets it, on 127.0.0.1: the generic endpoint
// (one JSON reply, {"correctedText": ...}, sent in pieces) at url(), and the hosted service's
// streamed reply (server-sent events of output-text deltas) under hostedBase() +
// "/ravlin-cloud". It corrects by a table of replacements, or fails, or stalls, as the test
// says.

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "tests/support/loopback_http_server.h"

namespace ravlin::testing {

class RavlinProgram;

class CorrectionService {
  public:
    enum class Behaviour {
        correct,  // the input with the replacements made, in pieces
        fail,     // HTTP 500 with an error body
        stall,    // accepts the request and never answers
    };

    CorrectionService();

    void setBehaviour(Behaviour behaviour);
    // Every occurrence of `wrong` in an input becomes `right` in the answer.
    void replace(std::string wrong, std::string right);

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
    LoopbackHttpServer server_;  // last: its thread stops before the state above goes
};

}  // namespace ravlin::testing
