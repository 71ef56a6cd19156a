// Pixels from lighting programs to the cube's LEDs: 125 RGB pixels, three channels each, in the
// order plane 1 row 1 column bit 0, column bit 1, ..., row 2, ..., plane 2, ... An LED lights
// when its pixel's brightest channel is at least half on. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames.h"

enum {
    kCubePixels = kCubePlanes * kCubeRows * kCubeColumns,
    kCubeChannels = 3 * kCubePixels,
    kPixelOnLevel = 128,
};

// Fewer channels leave the remaining LEDs dark; channels beyond the cube's 375 are ignored.
CubePlanes planesFromChannels(const std::uint8_t* channels, std::size_t count);
