// Isometric pictures of the 5x5x5 cube, for the README and for looking at single frames.
// The output depends on the tables alone (no dates, no randomness), so committed pictures can
// be compared byte for byte with a fresh rendering.
#pragma once

#include <string>
#include <vector>

#include "frames.h"

// One frame of a pattern (0 <= index < patternFrameCount) as a complete SVG document.
std::string frameSvg(CubePattern pattern, int index);
// Every frame of a pattern: one row for up to six frames, rows of four beyond.
std::string overviewSvg(CubePattern pattern);

// The pixel each LED is to a program that sends the cube light (E1.31, DDP): the five planes
// side by side, each LED with its pixel's number (plane 1 first, row by row, bit 0 first).
std::string pixelMapSvg();

// The frames one after another, `frameMs` each, round and round (an SVG animation), with a
// caption: what a music mode draws on the cube.
std::string animatedSvg(const std::vector<CubeFrame>& frames, int frameMs,
                        const std::string& caption);
