#include "ThreadIconPalette.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

double encodeSrgb(double linear)
{
    const double x = std::clamp(linear, 0.0, 1.0);
    return x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
}

} // namespace

std::optional<std::size_t> ThreadIconPalette::index(std::u16string_view name)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name == name)
            return i;
    }
    return std::nullopt;
}

SrgbColor ThreadIconPalette::threadColor(std::u16string_view name, ThreadIconColorScheme scheme,
                                         bool prominent)
{
    std::size_t i = grayIndex;
    if (const auto found = index(name)) {
        i = *found;
    } else if (const auto hex = SrgbColor::fromHex(name)) {
        return *hex;
    }

    const bool dark = scheme == ThreadIconColorScheme::Dark;
    double chroma = i == grayIndex ? 0 : (dark ? 0.1 : 0.16);
    const double hue = i == grayIndex ? 0 : entries[i].hue;
    double lightness = dark ? 0.7 : entries[i].lightLightness;
    if (prominent) {
        if (dark) {
            chroma *= 1.8;
            lightness += 0.14;
        } else {
            chroma *= 1.7;
            lightness -= 0.08;
        }
    }
    return oklchColor(lightness, chroma, hue);
}

SrgbColor ThreadIconPalette::oklchColor(double lightness, double chroma, double hue)
{
    const double radians = hue * std::numbers::pi / 180;
    const double a = chroma * std::cos(radians);
    const double b = chroma * std::sin(radians);
    const double l = std::pow(lightness + 0.3963377774 * a + 0.2158037573 * b, 3);
    const double m = std::pow(lightness - 0.1055613458 * a - 0.0638541728 * b, 3);
    const double s = std::pow(lightness - 0.0894841775 * a - 1.2914855480 * b, 3);
    return {
        encodeSrgb(4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s),
        encodeSrgb(-1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s),
        encodeSrgb(-0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s),
    };
}
