// The "Spectrum" mode on generated sound: where a band's column stands, how selective the
// bands are, the gain that follows the music, the gate, and how columns come down. Asserted on
// columns' heights, with a plane of slack where the analysis may round either way.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "music_signals.h"
#include "spectrum_show.h"

namespace {

using namespace music;
using Heights = std::vector<int>; // from 50 Hz up

// Where people see band k: rows of five bands from 50 Hz up, every second row running back.
int rowOfBand(int band) {
    return band / 5 + 1;
}
int columnOfBand(int band) {
    static const int kColumns[] = {0, 1, 2, 3, 4, 4, 3, 2, 1, 0};
    return kColumns[band % 10];
}

// Each band's column's height; a column with an LED lit above a gap is 9 tall.
Heights heightsOf(const CubePlanes& frame) {
    Heights heights;
    for (int band = 0; band < kThirdOctaveBands; ++band) {
        int height = 0;
        for (int plane = kCubePlanes; plane >= 1; --plane)
            if (frame.plane[plane - 1] & planeBit(rowOfBand(band), columnOfBand(band)))
                height = height == kCubePlanes - plane ? height + 1 : 9;
        heights.push_back(height);
    }
    return heights;
}

std::string text(const Heights& heights) {
    std::string text = "heights from 50 Hz:";
    for (size_t band = 0; band < heights.size(); ++band)
        text += (band % 5 ? "" : " ") + std::to_string(heights[band]);
    return text;
}

std::vector<Heights> heightsPlayed(const Signal& signal, int rate, int packetMs) {
    SpectrumShow show;
    show.start(rate);
    std::vector<Heights> heights;
    for (const CubePlanes& frame : play(show, signal, rate, packetMs))
        heights.push_back(heightsOf(frame));
    return heights;
}

// Tones at the centres of these bands, at these levels in dBFS.
Signal chord(const std::vector<std::pair<int, double>>& notes, double seconds, int rate) {
    Signal signal;
    for (const auto& [band, db] : notes)
        addAt(signal, tone(bandCentre(band), db, seconds, rate), 0.0, rate);
    return signal;
}

struct Feeding {
    int rate;
    int packetMs;
};
const Feeding kFeedings[] = {
    {48000, 25},  // one packet a frame
    {44100, 10},  // two or three packets a frame
    {48000, 100}, // a burst for one frame, then three frames of nothing
};
std::string text(const Feeding& feeding) {
    return std::to_string(feeding.rate) + " Hz in " + std::to_string(feeding.packetMs) + " ms";
}

TEST(SpectrumPicture, EachBandStandsInItsOwnColumnBesideItsNeighbours) {
    for (int band = 0; band < kThirdOctaveBands; ++band) {
        for (int height = 0; height <= kCubePlanes; ++height) {
            Heights heights(kThirdOctaveBands, 0);
            heights[band] = height;
            EXPECT_EQ(text(heightsOf(spectrumPicture(heights.data()))), text(heights));
        }
        if (band > 0) {
            EXPECT_EQ(1, std::max(std::abs(rowOfBand(band) - rowOfBand(band - 1)),
                                  std::abs(columnOfBand(band) - columnOfBand(band - 1))))
                << "bands " << band - 1 << " and " << band << " stand apart";
        }
    }
}

TEST(SpectrumShow, TonesStandTheirColumnsAndLeaveBandsThreeAwayLow) {
    const std::vector<std::vector<int>> kChords = {{0}, {3}, {8}, {13}, {17}, {21}, {24}, {3, 18}};
    for (const Feeding& feeding : kFeedings) {
        SCOPED_TRACE(text(feeding));
        for (const std::vector<int>& bands : kChords) {
            std::vector<std::pair<int, double>> notes;
            for (int band : bands)
                notes.push_back({band, -12.0});
            Heights heights =
                heightsPlayed(chord(notes, 1.0, feeding.rate), feeding.rate, feeding.packetMs)
                    .back();
            for (int band = 0; band < kThirdOctaveBands; ++band) {
                int away = 99;
                for (int toned : bands)
                    away = std::min(away, std::abs(band - toned));
                if (away == 0) {
                    EXPECT_GE(heights[band], 4) << "band " << band << ", " << text(heights);
                } else if (away >= 3) {
                    EXPECT_LE(heights[band], 1) << "band " << band << ", " << text(heights);
                }
            }
        }
    }
}

// From a burst's start to its column standing four planes over music already playing: within
// the frame its first packet reaches, but for the lowest bands, whose filters ring up slowly.
TEST(SpectrumShow, ABurstStandsItsColumnWithinAFrameOrTwo) {
    static const int kFramesAllowed[][2] = {
        {0, 2},  // 50 Hz: a band 12 Hz wide needs some 50 ms
        {2, 1},  // 80 Hz
        {4, 0},  // 125 Hz
        {9, 0},  // 400 Hz
        {13, 0}, // 1 kHz
        {24, 0}, // 12.5 kHz
    };
    const int rate = 48000;
    for (const auto& [band, allowed] : kFramesAllowed) {
        Signal signal = tone(bandCentre(band < 12 ? 20 : 5), -12.0, 1.5, rate);
        addAt(signal, tone(bandCentre(band), -12.0, 0.5, rate), 1.0, rate);
        std::vector<Heights> heights = heightsPlayed(signal, rate, 25);
        int burst = frameHaving(1.0, rate, 25);
        std::string seen;
        for (int frame = burst; frame <= burst + allowed; ++frame)
            seen += std::to_string(heights[frame][band]);
        EXPECT_GE(heights[burst + allowed][band], 4) << "band " << band << " rose " << seen;
    }
}

TEST(SpectrumShow, AQuietSongFillsTheCubeAsALoudOneDoes) {
    for (const Feeding& feeding : kFeedings) {
        SCOPED_TRACE(text(feeding));
        Heights pictures[2]; // quiet, loud
        for (double loudest : {-30.0, -6.0}) {
            Signal song =
                chord({{4, loudest}, {10, loudest - 6}, {16, loudest - 12}, {22, loudest - 20}},
                      1.5, feeding.rate);
            pictures[loudest > -30] = heightsPlayed(song, feeding.rate, feeding.packetMs).back();
        }
        EXPECT_EQ(pictures[1][4], 5) << text(pictures[1]);
        for (int band = 0; band < kThirdOctaveBands; ++band)
            EXPECT_NEAR(pictures[0][band], pictures[1][band], 1)
                << "quiet " << text(pictures[0]) << ", loud " << text(pictures[1]);
    }
}

TEST(SpectrumShow, ASofterToneAfterThreeSecondsOfSilenceStandsWithinASecondAndAHalf) {
    for (const Feeding& feeding : kFeedings) {
        SCOPED_TRACE(text(feeding));
        Signal signal = tone(bandCentre(13), -6.0, 2.0, feeding.rate);
        addAt(signal, tone(bandCentre(8), -26.0, 1.5, feeding.rate), 5.0, feeding.rate);
        std::vector<Heights> heights = heightsPlayed(signal, feeding.rate, feeding.packetMs);
        int soft = frameHaving(5.0, feeding.rate, feeding.packetMs), frame = soft;
        while (frame + 1 < (int)heights.size() && heights[frame][8] < 3)
            ++frame;
        EXPECT_LE(frame - soft, 60) << "at the end " << text(heights.back());
    }
}

TEST(SpectrumShow, SilenceAndHissBelowTheGateLeaveTheCubeDark) {
    const int rate = 48000;
    const Heights dark(kThirdOctaveBands, 0);
    for (const Signal& signal :
         {whiteNoise(-60.0, 2.0, rate), whiteNoise(-70.0, 2.0, rate), silence(2.0, rate)})
        for (const Heights& heights : heightsPlayed(signal, rate, 25))
            ASSERT_EQ(text(heights), text(dark));
}

TEST(SpectrumShow, AStoppedChordComesDownAPlaneAFrameUntilDark) {
    for (const Feeding& feeding : kFeedings) {
        SCOPED_TRACE(text(feeding));
        Signal signal =
            chord({{4, -12.0}, {10, -12.0}, {16, -18.0}, {22, -24.0}}, 1.5, feeding.rate);
        addAt(signal, silence(1.0, feeding.rate), 1.5, feeding.rate);
        std::vector<Heights> heights = heightsPlayed(signal, feeding.rate, feeding.packetMs);
        for (size_t frame = 1; frame < heights.size(); ++frame)
            for (int band = 0; band < kThirdOctaveBands; ++band)
                ASSERT_GE(heights[frame][band], heights[frame - 1][band] - 1)
                    << "frame " << frame << ", from " << text(heights[frame - 1]) << " to "
                    << text(heights[frame]);
        int stopped = frameHaving(1.5, feeding.rate, feeding.packetMs);
        EXPECT_EQ(text(heights[stopped + 8]), text(Heights(kThirdOctaveBands, 0)))
            << "8 frames after the chord stopped";
    }
}

} // namespace
