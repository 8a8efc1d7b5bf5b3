// Turning a picture upright from its EXIF orientation (1 to 8): what the
// stored pixels need to be seen as meant. Every move is an exact pixel move;
// nothing is resampled.
//
//   1 upright          2 mirror left-right    3 turn 180       4 mirror top-bottom
//   5 transpose        6 turn 90 clockwise    7 transverse     8 turn 90 counter-clockwise
#pragma once

#include <cstdint>

#include "engine/surface/cDIBSection.h"

namespace kx {

// True for the orientations that turn the picture a quarter (5 to 8): the
// upright picture's width is the stored height and its height the width.
constexpr bool SwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

// Places stored rows, as a decoder produces them top row first, at their
// upright places in a surface, so that a picture is turned while it is
// decoded, with no second full-size buffer.
class UprightPlacer {
public:
    // `upright`: a live surface of the upright size of a picture stored as
    // storedWidth x storedHeight; `orientation` 1 to 8.
    UprightPlacer(cDIBSection& upright, int orientation, Long storedWidth, Long storedHeight);

    // Places `count` stored rows from stored row `firstRow` (counted from the
    // top): rows[i] holds the BGR pixels of stored row firstRow + i. Strips of
    // several rows make the quarter turns cache-friendly.
    void Place(const uint8_t* const* rows, Long firstRow, Long count);

private:
    cDIBSection& upright_;
    int orientation_;
    Long width_;
    Long height_;
};

// Makes `surface` (a live surface of stored pixels) hold its picture upright.
// Orientations outside 2 to 8 change nothing. False, the surface unchanged,
// when the upright surface cannot be made.
bool TurnUpright(cDIBSection& surface, int orientation);

}  // namespace kx
