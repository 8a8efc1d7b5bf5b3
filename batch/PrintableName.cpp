#include "batch/PrintableName.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace kx::batch {

size_t Utf8Length(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else
        return 0;
    if (text.size() - at < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

bool IsUtf8(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t length = Utf8Length(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string PrintableName(std::string_view name)
{
    std::string printed;
    const auto octal = [&](unsigned char c) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\%03o", c);
        printed += escaped;
    };
    for (size_t at = 0; at < name.size();) {
        const auto c = static_cast<unsigned char>(name[at]);
        const size_t length = Utf8Length(name, at);
        constexpr std::string_view kLetters = "abtnvfr";  // for \a (7) to \r (13)
        if (c == '\\')
            printed += "\\\\";
        else if (c >= 7 && c <= 13)
            printed.append({'\\', kLetters[c - 7]});
        else if (c < 0x20 || c == 0x7F || length == 0)
            octal(c);
        else if (c == 0xC2 && static_cast<unsigned char>(name[at + 1]) < 0xA0) {  // C1: U+0080..U+009F
            octal(c);
            octal(static_cast<unsigned char>(name[at + 1]));
        } else
            printed.append(name.substr(at, length));
        at += length == 0 ? 1 : length;
    }
    return printed;
}

std::string Base64(std::string_view bytes)
{
    constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t at = 0; at < bytes.size(); at += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - at);
        uint32_t group = 0;
        for (size_t i = 0; i < 3; ++i)
            group = group << 8 | (i < n ? static_cast<unsigned char>(bytes[at + i]) : 0u);
        for (size_t i = 0; i < 4; ++i) text += i <= n ? kDigits[(group >> (18 - 6 * i)) & 63] : '=';
    }
    return text;
}

}  // namespace kx::batch
