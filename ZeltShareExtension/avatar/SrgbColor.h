#pragma once

#include <optional>
#include <string_view>

// An opaque sRGB colour with channels in [0, 1].
struct SrgbColor
{
    double red = 0;
    double green = 0;
    double blue = 0;

    bool operator==(const SrgbColor &) const = default;

    // "#rrggbb" with hexadecimal digits in either case, exactly seven characters; none for
    // anything else (three or eight digits, no "#", other characters).
    static std::optional<SrgbColor> fromHex(std::u16string_view text);
};
