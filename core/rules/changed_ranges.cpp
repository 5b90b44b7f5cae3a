#include "core/rules/changed_ranges.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/rules/text_scan.h"

namespace ravlin {
namespace {

using text::Utf16Range;

// The first m >= from with units[m] == x and units[m + 1] == y, or n when there is none.
std::size_t findPair(const char16_t* units, std::size_t n, std::size_t from, char16_t x,
                     char16_t y) {
    std::size_t m = from;
#if defined(__SSE2__)
    const __m128i wantX = _mm_set1_epi16(static_cast<short>(x));
    const __m128i wantY = _mm_set1_epi16(static_cast<short>(y));
    while (m + 8 < n) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + m));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + m + 1));
        __m128i both = _mm_and_si128(_mm_cmpeq_epi16(here, wantX), _mm_cmpeq_epi16(next, wantY));
        if (int mask = _mm_movemask_epi8(both)) {
            return m + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)) / 2);
        }
        m += 8;
    }
#endif
    for (; m + 1 < n; ++m) {
        if (units[m] == x && units[m + 1] == y) {
            return m;
        }
    }
    return n;
}

// Answers "first m >= from with old[m] == x and old[m + 1] == y". The walk only ever moves
// forward in the old text, so an answer stays valid for later questions that start no later
// than it: a pair missing from some position on is missing from every later one, and a found
// position is still the first one for any start up to it. When several pairs have turned out
// missing (a long stretch of new text), the pairs present from there on are noted in a bit
// table, so further missing pairs cost nothing.
class PairFinder {
  public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    explicit PairFinder(std::u16string_view old) : old_(old) {}

    std::size_t find(char16_t x, char16_t y, std::size_t from) {
        if (present_ && !present_->test(slotOf(x, y))) {
            return kNone;
        }
        const std::uint32_t key = (static_cast<std::uint32_t>(x) << 16) | y;
        for (const auto& answer : answers_) {
            if (answer.valid && answer.key == key && answer.from <= from &&
                (answer.at == kNone || answer.at >= from)) {
                return answer.at;
            }
        }
        std::size_t at = findPair(old_.data(), old_.size(), from, x, y);
        if (at == old_.size()) {
            at = kNone;
            if (++misses_ == kMissesBeforeIndexing && !present_) {
                index(from);
            }
        }
        answers_[next_] = Answer{true, key, from, at};
        next_ = (next_ + 1) % answers_.size();
        return at;
    }

  private:
    static constexpr std::uint32_t kSlots = 1U << 15;
    static constexpr int kMissesBeforeIndexing = 4;

    static std::uint32_t slotOf(char16_t x, char16_t y) {
        // Distinct for every pair of ASCII code units.
        return ((static_cast<std::uint32_t>(x) << 7) ^ (static_cast<std::uint32_t>(x) >> 8) ^ y) &
               (kSlots - 1);
    }

    void index(std::size_t from) {
        present_ = std::make_unique<std::bitset<kSlots>>();
        const std::size_t n = old_.size();
        for (std::size_t m = from; m + 1 < n; ++m) {
            present_->set(slotOf(old_[m], old_[m + 1]));
        }
    }

    struct Answer {
        bool valid = false;
        std::uint32_t key = 0;
        std::size_t from = 0;
        std::size_t at = 0;
    };

    std::u16string_view old_;
    std::array<Answer, 8> answers_{};
    std::size_t next_ = 0;
    int misses_ = 0;
    std::unique_ptr<std::bitset<kSlots>> present_;
};

Utf16Range makeRange(std::size_t location, std::size_t length) {
    return Utf16Range{static_cast<std::int64_t>(location), static_cast<std::int64_t>(length)};
}

}  // namespace

std::vector<Utf16Range> changedRanges(std::u16string_view from, std::u16string_view to) {
    const std::size_t nA = from.size();
    const std::size_t nB = to.size();
    const std::size_t firstDifference = rules::commonRun(from.data(), to.data(), std::min(nA, nB));
    if (rules::sameTextFrom(from, to, firstDifference)) {
        return {};
    }
    std::size_t i = firstDifference;
    std::size_t j = firstDifference;
    std::vector<Utf16Range> ranges;
    PairFinder finder(from);

    for (;;) {
        const std::size_t same =
            rules::commonRun(from.data() + i, to.data() + j, std::min(nA - i, nB - j));
        i += same;
        j += same;
        if (i == nA && j == nB) {
            break;
        }
        if (i < nA && j == nB) {
            if (nB > 0) {
                ranges.push_back(makeRange(nB - 1, 1));
            }
            break;
        }
        // Resynchronise: the smallest k, then the smallest m, with two matching code units in
        // a row. There is none once the old text is used up.
        std::size_t k = j;
        std::size_t m = PairFinder::kNone;
        if (i < nA) {
            for (; k + 1 < nB; ++k) {
                m = finder.find(to[k], to[k + 1], i);
                if (m != PairFinder::kNone) {
                    break;
                }
            }
        }
        if (m == PairFinder::kNone) {
            ranges.push_back(makeRange(j, nB - j));
            break;
        }
        if (k > j) {
            ranges.push_back(makeRange(j, k - j));
        } else {
            ranges.push_back(makeRange(j > 0 ? j - 1 : 0, 1));
        }
        i = m;
        j = k;
    }
    return mergedRanges(std::move(ranges));
}

std::vector<Utf16Range> mergedRanges(std::vector<Utf16Range> ranges) {
    std::stable_sort(ranges.begin(), ranges.end(), [](const Utf16Range& a, const Utf16Range& b) {
        return a.location < b.location;
    });
    std::vector<Utf16Range> merged;
    for (const auto& range : ranges) {
        if (range.length < 1) {
            continue;
        }
        if (!merged.empty() && range.location <= merged.back().end()) {
            auto& last = merged.back();
            last.length = std::max(last.end(), range.end()) - last.location;
            continue;
        }
        merged.push_back(range);
    }
    return merged;
}

}  // namespace ravlin
