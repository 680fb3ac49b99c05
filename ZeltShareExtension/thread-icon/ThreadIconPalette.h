#pragma once

#include "avatar/SrgbColor.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

enum class ThreadIconColorScheme {
    Light,
    Dark,
};

// The named colours a thread may carry, drawn in OKLCH so that every hue has the same weight.
class ThreadIconPalette
{
public:
    struct Entry
    {
        std::u16string_view name;
        double hue;            // degrees
        double lightLightness; // OKLCH lightness in the light scheme
    };

    static constexpr std::size_t grayIndex = 8;
    static constexpr std::array<Entry, 9> entries{{
        {u"blue", 250, 0.67},
        {u"purple", 300, 0.68},
        {u"pink", 345, 0.69},
        {u"red", 25, 0.69},
        {u"orange", 60, 0.68},
        {u"yellow", 90, 0.67},
        {u"green", 150, 0.65},
        {u"cyan", 205, 0.63},
        {u"gray", 0, 0.67},
    }};

    // The index of a palette name (exact, case-sensitive); none for other text.
    static std::optional<std::size_t> index(std::u16string_view name);

    // The colour of a thread: a palette name in the scheme, stronger when prominent; "#rrggbb"
    // as given, in any scheme; anything else as gray.
    static SrgbColor threadColor(std::u16string_view name, ThreadIconColorScheme scheme,
                                 bool prominent);

    // OKLCH (lightness, chroma, hue in degrees) to sRGB, each channel clamped to [0, 1].
    static SrgbColor oklchColor(double lightness, double chroma, double hue);
};
