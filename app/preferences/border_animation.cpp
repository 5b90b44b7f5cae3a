#include "app/preferences/border_animation.h"

#include <QGuiApplication>
#include <QPalette>

namespace ravlin {
namespace {

QNColorRGBA placeholderTextColor() {
    const QColor color = QGuiApplication::palette().color(QPalette::PlaceholderText);
    return {color.redF(), color.greenF(), color.blueF(), color.alphaF()};
}

}  // namespace

const QNConfigComposerBorderAnimation& QNConfigComposerBorderAnimation::standard() {
    static const QNConfigComposerBorderAnimation value{
        .isEnabled = true,
        .duration = 1.35,
        .fadeInDuration = 0.2,
        .fadeOutDuration = 0.5,
        .maxOpacity = 0.08,
        .glowOpacity = 0.11,
        .lineWidth = 0.3,
        .haloOpacity = 0.055,
        .haloLineWidth = 10,
        .haloBlurRadius = 12,
        .glowLineWidth = 5.5,
        .glowBlurRadius = 8,
        .cornerRadius = 18,
        .beamLengthRatio = 0.06,
        .minimumBeamLength = 24,
        .maximumBeamLength = 40,
        .beamColor = placeholderTextColor(),
    };
    return value;
}

QNConfigComposerBorderAnimation QNConfigComposerBorderAnimation::adapted(bool isDark) const {
    if (isDark) {
        return *this;
    }
    QNConfigComposerBorderAnimation light = *this;
    light.maxOpacity = 0.2;
    light.glowOpacity = 0.07;
    light.lineWidth = 0.55;
    light.haloOpacity = 0.014;
    light.haloLineWidth = 4.0;
    light.haloBlurRadius = 3.5;
    light.glowLineWidth = 2.7;
    light.glowBlurRadius = 2.4;
    light.beamLengthRatio = 0.075;
    light.minimumBeamLength = 34;
    light.maximumBeamLength = 56;
    light.beamColor = {0.14, 0.28, 0.46, 1};
    return light;
}

}  // namespace ravlin
