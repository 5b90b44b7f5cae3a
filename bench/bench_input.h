#pragma once

#include <cstddef>
#include <string>

namespace ravlin::bench {

// A typed draft to measure on: the file named by RAVLIN_BENCH_TEXT when it is set, else the
// draft shipped in bench/data. With `approximateCharacters` > 0 the draft is repeated or cut
// (at a space where possible) to about that many characters.
[[nodiscard]] std::u16string benchText(std::size_t approximateCharacters = 0);

// Where the text came from, for the benchmark's label.
[[nodiscard]] std::string benchTextSource();

}  // namespace ravlin::bench
