#include "pixel_planes.h"

#include <algorithm>
#include <cstring>

CubePlanes planesFromChannels(const std::uint8_t* channels, std::size_t count) {
    // Channels that did not come are dark, even the missing green and blue of a cut pixel.
    std::uint8_t all[kCubeChannels] = {};
    if (count > 0)
        std::memcpy(all, channels, std::min<std::size_t>(count, kCubeChannels));
    CubePlanes planes = {};
    for (int pixel = 0; pixel < kCubePixels; ++pixel) {
        const std::uint8_t* rgb = all + 3 * pixel;
        if (rgb[0] < kPixelOnLevel && rgb[1] < kPixelOnLevel && rgb[2] < kPixelOnLevel)
            continue;
        int withinPlane = pixel % 25;
        planes.plane[pixel / 25] |= planeBit(withinPlane / 5 + 1, withinPlane % 5);
    }
    return planes;
}
