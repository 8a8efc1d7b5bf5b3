// File names as people see them and as programs read them back.
#pragma once

#include <string>
#include <string_view>

namespace kx::batch {

// `name` safe to print on a terminal, as ls writes names there: control
// characters (C0, DEL and C1) become C escapes ("\n", "\t", "\033"), a
// backslash doubles, and bytes that are not UTF-8 become octal escapes, so
// a name can neither drive the terminal nor forge a line.
std::string PrintableName(std::string_view name);

// The length of the UTF-8 sequence at `at`, 0 when it is not one (overlong
// forms, surrogates and values past U+10FFFF included).
size_t Utf8Length(std::string_view text, size_t at);

// True when the whole of `text` is UTF-8.
bool IsUtf8(std::string_view text);

// `bytes` in base64 (RFC 4648, with padding).
std::string Base64(std::string_view bytes);

}  // namespace kx::batch
