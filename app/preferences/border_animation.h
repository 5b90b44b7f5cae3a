#pragma once

// How the Composer's border beam looks: timing, opacities, line widths, blur radii, the corner
// radius, the beam's length and its colour. Lengths and widths are in points, times in seconds,
// colours plain RGBA from 0 to 1.

namespace ravlin {

struct QNColorRGBA {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    friend bool operator==(const QNColorRGBA&, const QNColorRGBA&) = default;
};

struct QNConfigComposerBorderAnimation {
    bool isEnabled = true;
    double duration = 0;
    double fadeInDuration = 0;
    double fadeOutDuration = 0;
    double maxOpacity = 0;
    double glowOpacity = 0;
    double lineWidth = 0;
    double haloOpacity = 0;
    double haloLineWidth = 0;
    double haloBlurRadius = 0;
    double glowLineWidth = 0;
    double glowBlurRadius = 0;
    double cornerRadius = 0;
    double beamLengthRatio = 0;
    double minimumBeamLength = 0;
    double maximumBeamLength = 0;
    QNColorRGBA beamColor;

    // Made once on first use; the beam takes the application palette's placeholder-text colour.
    [[nodiscard]] static const QNConfigComposerBorderAnimation& standard();
    // Unchanged on a dark appearance; on a light one a stronger, narrower beam in dark blue,
    // timing and corner radius kept.
    [[nodiscard]] QNConfigComposerBorderAnimation adapted(bool isDark) const;

    friend bool operator==(const QNConfigComposerBorderAnimation&,
                           const QNConfigComposerBorderAnimation&) = default;
};

}  // namespace ravlin
