// Arbitrary bytes as the output of the Codex tool and of the commands detection runs: the
// version line, the location and search-path lines, and the retry test on a run's output. No
// input may crash a parser, and what they return must keep their promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/providers/codex-cli/correction_process.h"
#include "core/providers/codex-cli/detection.h"
#include "core/text/unicode.h"
#include "core/text/utf8.h"

using namespace ravlin;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void checkLine(const std::optional<std::string>& line, std::string_view source) {
    if (!line) {
        return;
    }
    check(!line->empty());
    check(line->find('\n') == std::string::npos && line->find('\r') == std::string::npos);
    check(text::trimmed(std::string_view(*line)) == *line);
    if (text::isValidUtf8(source)) {  // ill-formed bytes come back replaced
        check(source.find(*line) != std::string_view::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto version = codex_cli::parseVersion(bytes)) {
        check(version->major >= 0 && version->minor >= 0 && version->patch >= 0);
        // A parsed version prints back to a line that parses to the same numbers.
        const std::string line = "codex-cli " + std::to_string(version->major) + "." +
                                 std::to_string(version->minor) + "." +
                                 std::to_string(version->patch);
        check(codex_cli::parseVersion(line) == version);
    }

    // Split the input into the two streams of a command at the first NUL byte.
    const auto split = bytes.find('\0');
    const std::string out(bytes.substr(0, split));
    const std::string err(split == std::string_view::npos ? "" : bytes.substr(split + 1));
    const QNCodexCLICommandResult result{0, out, err};
    if (const auto text = codex_cli::outputText(result)) {
        check(!text->empty());
        if (text::isValidUtf8(out) && text::isValidUtf8(err)) {
            check(out.find(*text) != std::string::npos || err.find(*text) != std::string::npos);
        }
    }
    checkLine(codex_cli::firstLine(bytes), bytes);
    checkLine(codex_cli::lastLine(bytes), bytes);

    const QNCodexCLICorrectionProcessResult run{1, out, err, false, false};
    (void)shouldRetryWithoutExtraConfig(run);
    return 0;
}
