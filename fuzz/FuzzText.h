// The text fuzz target's reading of its input, shared with the regression
// test that replays kept inputs. The input is split as: one byte of style
// flags, one byte of size, one byte each of top and left position, then the
// font name up to the first newline and the text after it. Matching a new
// font name costs fontconfig a search of every installed font, so only when
// the top flag bit is set is the name taken as it is; otherwise its length
// picks one of a few common names, and the fuzzer spends its time in the
// renderer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>

#include "common/RunTimeError.h"
#include "engine/surface/StdFont.h"
#include "engine/surface/cDIBSection.h"

namespace kx::fuzz {

inline void DrawFuzzText(std::span<const uint8_t> data)
{
    static const char* const kCommonNames[] = {"Sans", "Serif", "Monospace", "DejaVu Sans", ""};
    if (data.size() < 4) return;
    StdFont font;
    font.Bold = data[0] & 1;
    font.Italic = data[0] & 2;
    font.Underline = data[0] & 4;
    font.Strikethrough = data[0] & 8;
    font.Charset = static_cast<int16_t>((data[0] >> 4) & 7);
    // Sizes from 0 to 31.875 points (up to 42 pixels), most of them beyond the
    // 24-pixel surface; long texts still reach the edges of the 2000 x 1000
    // scratch area. Larger sizes only make the same work slower.
    font.Size = data[1] / 8.0;
    const auto top = static_cast<Integer>(static_cast<int8_t>(data[2]));
    const auto left = static_cast<Integer>(static_cast<int8_t>(data[3]));

    const auto newline = std::find(data.begin() + 4, data.end(), uint8_t{'\n'});
    font.Name.assign(data.begin() + 4, newline);
    if ((data[0] & 0x80) == 0) font.Name = kCommonNames[font.Name.size() % std::size(kCommonNames)];
    const std::string text(newline == data.end() ? data.end() : newline + 1, data.end());

    cDIBSection surface;
    if (!surface.Create(48, 24)) return;
    try {
        surface.AddTextToImage(text, font, 10, 200, 30, top, left);
    } catch (const RunTimeError&) {
        // A run-time error is a defined outcome (a face name of more than 33
        // characters raises 9); the operations report it to the caller.
    }
}

}  // namespace kx::fuzz
