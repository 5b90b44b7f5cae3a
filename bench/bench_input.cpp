#include "bench/bench_input.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "core/text/unicode.h"

namespace ravlin::bench {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "bench: cannot read " << path << "\n";
        std::exit(2);
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

std::string benchTextSource() {
    const char* path = std::getenv("RAVLIN_BENCH_TEXT");
    return (path != nullptr && *path != '\0') ? std::string(path)
                                              : std::string(RAVLIN_BENCH_DIR) + "/data/draft.txt";
}

std::u16string benchText(std::size_t approximateCharacters) {
    std::u16string draft = text::toUtf16(readFile(benchTextSource()));
    while (!draft.empty() && (draft.back() == u'\n' || draft.back() == u'\r')) {
        draft.pop_back();
    }
    if (approximateCharacters == 0 || draft.empty()) {
        return draft;
    }
    std::u16string out;
    while (out.size() < approximateCharacters) {
        if (!out.empty()) {
            out.push_back(u' ');
        }
        out += draft;
    }
    auto cut = out.rfind(u' ', approximateCharacters);
    out.resize(cut != std::u16string::npos && cut > approximateCharacters / 2
                   ? cut
                   : approximateCharacters);
    return out;
}

net::SseByteChunk ChunkedBytes::next() {
    if (body_.empty()) {
        return net::SseByteChunk::endOfBody();
    }
    const std::string_view piece = body_.substr(0, 16 * 1024);
    body_.remove_prefix(piece.size());
    return net::SseByteChunk::of(piece);
}

QNModelCorrectionProviderResult InstantProvider::generateCorrection(
    const QNModelCorrectionRequest& request, std::stop_token) {
    return QNModelCorrectionProviderResult::success(
        QNModelCorrectionResponse(request.text, answer_, 1.0));
}

void InstantProvider::streamCorrection(const QNModelCorrectionRequest& request, std::stop_token,
                                       const QNModelCorrectionStreamSink& sink) {
    for (std::size_t part = 1; part < parts_; ++part) {
        sink(QNModelCorrectionStreamEvent::partial(
            answer_.substr(0, answer_.size() * part / parts_)));
    }
    sink(QNModelCorrectionStreamEvent::completed(
        QNModelCorrectionResponse(request.text, answer_, 1.0)));
}

}  // namespace ravlin::bench
