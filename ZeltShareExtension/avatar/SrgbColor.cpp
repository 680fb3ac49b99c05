#include "SrgbColor.h"

#include <cstdint>

std::optional<SrgbColor> SrgbColor::fromHex(std::u16string_view text)
{
    if (text.size() != 7 || text[0] != u'#')
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char16_t c : text.substr(1)) {
        std::uint32_t digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = std::uint32_t(c - u'0');
        else if (c >= u'a' && c <= u'f')
            digit = std::uint32_t(c - u'a' + 10);
        else if (c >= u'A' && c <= u'F')
            digit = std::uint32_t(c - u'A' + 10);
        else
            return std::nullopt;
        value = value << 4 | digit;
    }
    return SrgbColor{double((value >> 16) & 0xFF) / 255, double((value >> 8) & 0xFF) / 255,
                     double(value & 0xFF) / 255};
}
