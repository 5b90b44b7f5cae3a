#include "core/providers/foundation-models/language_model.h"

namespace ravlin::ondevice {
namespace {

// No on-device model exists here: every question about it gets "not eligible".
class UnsupportedSession final : public LanguageModelSession {
  public:
    void prewarm(std::stop_token) override {}
    StreamEnd streamResponse(const std::u16string&, const GenerationSchema&, bool,
                             const GenerationOptions&, std::stop_token stop,
                             const std::function<bool(const Snapshot&)>&) override {
        if (stop.stop_requested()) {
            return StreamEnd::cancelled();
        }
        return StreamEnd::error("The on-device language model is not available on this device.");
    }
};

class UnsupportedModel final : public LanguageModel {
  public:
    [[nodiscard]] ModelAvailability availability() const override {
        return ModelAvailability::unavailable(UnavailableReason::deviceNotEligible);
    }
    [[nodiscard]] std::shared_ptr<LanguageModelSession> makeSession(const std::string&) override {
        return std::make_shared<UnsupportedSession>();
    }
};

}  // namespace

std::shared_ptr<LanguageModel> LanguageModel::systemDefault() {
    static const std::shared_ptr<LanguageModel> model = std::make_shared<UnsupportedModel>();
    return model;
}

}  // namespace ravlin::ondevice
