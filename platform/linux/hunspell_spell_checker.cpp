#include "platform/linux/hunspell_spell_checker.h"

#include <unicode/ucnv.h>
#include <unistd.h>

#include <hunspell/hunspell.hxx>
#include <optional>

#include "core/text/unicode.h"

namespace ravlin::platform {
namespace {

bool readable(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

bool isUtf8(std::string_view encoding) {
    return text::lowercased(encoding) == "utf-8" || text::lowercased(encoding) == "utf8";
}

struct ConverterClose {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};

}  // namespace

struct HunspellSpellChecker::Loaded {
    std::unique_ptr<Hunspell> hunspell;
    bool utf8 = true;
    // The dictionary's encoding when it is not UTF-8; null when ICU does not know it.
    std::unique_ptr<UConverter, ConverterClose> converter;

    // The word in the dictionary's encoding; none when the encoding cannot hold it.
    std::optional<std::string> encode(std::u16string_view word) const {
        if (utf8) {
            return text::toUtf8(word);
        }
        if (!converter) {
            return std::nullopt;
        }
        UErrorCode status = U_ZERO_ERROR;
        ucnv_reset(converter.get());
        std::string out(word.size() * 4 + 4, '\0');
        const auto length =
            ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                            word.data(), static_cast<int32_t>(word.size()), &status);
        if (U_FAILURE(status)) {
            return std::nullopt;
        }
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
};

HunspellSpellChecker::Dictionary HunspellSpellChecker::englishUS() {
    return {"/usr/share/hunspell/en_US.aff", "/usr/share/hunspell/en_US.dic"};
}

HunspellSpellChecker::HunspellSpellChecker(Dictionary dictionary, std::shared_ptr<SystemLog> log)
    : dictionary_(std::move(dictionary)), log_(std::move(log)) {}

HunspellSpellChecker::~HunspellSpellChecker() = default;

HunspellSpellChecker::Loaded* HunspellSpellChecker::loaded() {
    if (triedLoading_) {
        return loaded_.get();
    }
    triedLoading_ = true;
    if (!readable(dictionary_.affixPath) || !readable(dictionary_.wordsPath)) {
        if (log_) {
            log_->write({"io.quen.ravlin.AppRavlin", "SpellCheck", LogLevel::error,
                         "no spelling dictionary at " + dictionary_.wordsPath +
                             ": no word is marked misspelled"});
        }
        return nullptr;
    }
    auto loaded = std::make_unique<Loaded>();
    loaded->hunspell =
        std::make_unique<Hunspell>(dictionary_.affixPath.c_str(), dictionary_.wordsPath.c_str());
    const std::string encoding = loaded->hunspell->get_dict_encoding();
    loaded->utf8 = isUtf8(encoding);
    if (!loaded->utf8) {
        // Characters the dictionary's encoding lacks stop the conversion instead of becoming "?".
        UErrorCode status = U_ZERO_ERROR;
        loaded->converter.reset(ucnv_open(encoding.c_str(), &status));
        if (U_FAILURE(status)) {
            loaded->converter.reset();
        } else {
            ucnv_setFromUCallBack(loaded->converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr,
                                  nullptr, nullptr, &status);
        }
    }
    loaded_ = std::move(loaded);
    return loaded_.get();
}

bool HunspellSpellChecker::isMisspelled(std::u16string_view word) {
    if (word.empty() || word.size() > kMaximumWordLength) {
        return false;
    }
    auto* dictionary = loaded();
    if (dictionary == nullptr) {
        return false;
    }
    const auto encoded = dictionary->encode(text::nfc(word));
    if (!encoded) {
        return false;
    }
    return !dictionary->hunspell->spell(*encoded);
}

}  // namespace ravlin::platform
