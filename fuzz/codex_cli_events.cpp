// Arbitrary bytes as what the Codex tool printed during a correction run: its JSON-lines events
// on standard output and the failure text on standard error. No input may crash the event reader
// or the failure-text condensing, and a text meant for the person keeps its promises: one line,
// no control characters, no surrounding whitespace, at most 500 characters plus "...".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/providers/codex-cli/codex_cli_provider.h"
#include "core/text/unicode.h"

using namespace ravlin;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void checkShown(const std::string& shown) {
    check(!shown.empty());
    check(text::trimmed(std::string_view(shown)) == shown);
    for (const char byte : shown) {
        const auto unit = static_cast<unsigned char>(byte);
        check(unit >= 0x20 && unit != 0x7F);
    }
    check(text::characterCount(std::string_view(shown)) <= 503);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    checkShown(QNProviderCodexCLICorrection::condenseFailureText(bytes));
    if (const auto failure = QNProviderCodexCLICorrection::parseEvents(bytes)) {
        checkShown(*failure);
    }

    const auto split = bytes.find('\0');
    const std::string out(bytes.substr(0, split));
    const std::string err(split == std::string_view::npos ? "" : bytes.substr(split + 1));
    const std::string message =
        QNProviderCodexCLICorrection::failureMessage({1, out, err, false, false});
    check(message.rfind("Codex CLI failed", 0) == 0);

    const nlohmann::json value = nlohmann::json::parse(bytes, nullptr, false);
    if (!value.is_discarded()) {
        if (const auto found = QNProviderCodexCLICorrection::findEventMessage(value)) {
            check(!found->empty());
            check(text::trimmed(std::string_view(*found)) == *found);
        }
    }
    return 0;
}
