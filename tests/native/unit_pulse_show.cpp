// The "Pulse" mode on generated sound: the shells a beat sends out, which beats count and how
// soon their pulse starts. Asserted on the sequence of shells, one letter a frame.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "music_signals.h"
#include "pulse_show.h"

namespace {

using namespace music;

// "." dark, "c" the centre (plane 3, row 3, bit 2) alone, "1" the 26 LEDs at a Chebyshev
// distance of 1 from it alone, "2" the 98 at a distance of 2 alone, "?" anything else.
char shellLetter(const CubePlanes& frame) {
    int lit[3] = {0, 0, 0};
    for (int plane = 1; plane <= kCubePlanes; ++plane)
        for (int row = 1; row <= kCubeRows; ++row)
            for (int column = 0; column < kCubeColumns; ++column)
                if (frame.plane[plane - 1] & planeBit(row, column))
                    ++lit[std::max({std::abs(plane - 3), std::abs(row - 3), std::abs(column - 2)})];
    static const int kShells[][3] = {{0, 0, 0}, {1, 0, 0}, {0, 26, 0}, {0, 0, 98}};
    for (int shell = 0; shell < 4; ++shell)
        if (std::equal(lit, lit + 3, kShells[shell]))
            return ".c12"[shell];
    return '?';
}

std::string shellsPlayed(const Signal& signal, int rate, int packetMs) {
    PulseShow show;
    show.start(rate);
    std::string shells;
    for (const CubePlanes& frame : play(show, signal, rate, packetMs))
        shells += shellLetter(frame);
    return shells;
}

// The frames where a pulse starts: a centre after anything else, or a third centre in a row.
std::vector<int> pulseStarts(const std::string& shells) {
    std::vector<int> starts;
    for (int i = 0; i < (int)shells.size(); ++i)
        if (shells[i] == 'c' && (i == 0 || shells[i - 1] != 'c' || starts.back() == i - 2))
            starts.push_back(i);
    return starts;
}

// A kick is heard once its first 15 ms are fed: whichever way the detector's 5 ms hops fall,
// a quiet kick's window has risen enough by then.
int frameHearing(double seconds, int rate, int packetMs) {
    return frameHaving(seconds + 0.015, rate, packetMs);
}

TEST(PulseShow, ABeatSendsEachShellForTwoFramesAndAWeakOneStopsHalfway) {
    static const struct {
        double belowDb; // the kick after four at -6 dBFS, this much softer
        const char* shells;
    } kCases[] = {
        {0.0, "cc1122.."},  // as strong
        {-4.0, "cc1122.."}, // 0.63 of the strongest
        {-8.0, "cc11...."}, // 0.40
        {-20.0, "cc11...."},
    };
    const int rate = 48000;
    for (const auto& c : kCases) {
        Signal signal = kicks(120.0, -6.0, 2.0, rate);
        addAt(signal, kick(-6.0 + c.belowDb, rate), 2.0, rate);
        addAt(signal, silence(0.5, rate), 2.3, rate);
        std::string shells = shellsPlayed(signal, rate, 25);
        EXPECT_EQ(shells.substr(0, 20), "cc1122..............") << shells;
        EXPECT_EQ(shells.substr(frameHearing(2.0, rate, 25), 8), c.shells)
            << c.belowDb << " dB: " << shells;
        EXPECT_EQ(pulseStarts(shells).size(), 5u) << shells;
    }
}

TEST(PulseShow, KicksAtATempoEachStartAPulseWithinAFrame) {
    static const struct {
        double db;
        int rate;
        int packetMs;
        double bpm;
        bool chord; // over a chord of middle notes 6 dB softer
    } kCases[] = {
        {-6.0, 48000, 25, 120.0, false},  {-36.0, 48000, 25, 120.0, false},
        {-6.0, 44100, 10, 120.0, false},  {-36.0, 44100, 10, 120.0, false},
        {-6.0, 48000, 100, 120.0, false}, {-36.0, 44100, 100, 120.0, false},
        {-12.0, 48000, 10, 140.0, true},  {-36.0, 44100, 25, 90.0, true},
    };
    for (const auto& c : kCases) {
        const double seconds = 6.0, interval = 60.0 / c.bpm;
        Signal signal = kicks(c.bpm, c.db, seconds, c.rate);
        for (double frequency : {500.0, 1000.0, 2000.0})
            if (c.chord)
                addAt(signal, tone(frequency, c.db - 6.0, seconds, c.rate), 0.0, c.rate);
        std::string shells = shellsPlayed(signal, c.rate, c.packetMs);
        std::vector<int> starts = pulseStarts(shells);
        // From the first kick after a second on, each starts one pulse, from the frame its
        // first sample reaches to the one its first 15 ms reach, and nothing else does.
        const double firstHeard = std::ceil(1.0 / interval) * interval;
        size_t pulse = 0;
        while (pulse < starts.size() && starts[pulse] < frameHaving(firstHeard, c.rate, c.packetMs))
            ++pulse;
        for (double at = firstHeard; at < seconds - 0.1; at += interval) {
            int earliest = frameHaving(at, c.rate, c.packetMs);
            EXPECT_TRUE(pulse < starts.size() && starts[pulse] >= earliest &&
                        starts[pulse] <= frameHearing(at, c.rate, c.packetMs))
                << "the kick at " << at << " s from frame " << earliest << ", " << c.db << " dBFS, "
                << c.bpm << " BPM, " << c.rate << " Hz, " << c.packetMs
                << " ms packets: " << shells;
            ++pulse;
        }
        EXPECT_EQ(pulse, starts.size()) << shells;
    }
}

TEST(PulseShow, BeatsComeAtMostOnceIn150Milliseconds) {
    const int rate = 48000;
    // Pairs of short kicks, twice a second; each kick has died away before the next one.
    for (double gap : {0.1, 0.14, 0.16, 0.2}) {
        Signal signal;
        for (double at = 0.0; at < 2.0; at += 0.5) {
            addAt(signal, kick(-6.0, rate, 0.015), at, rate);
            addAt(signal, kick(-6.0, rate, 0.015), at + gap, rate);
        }
        std::string shells = shellsPlayed(signal, rate, 25);
        EXPECT_EQ(pulseStarts(shells).size(), gap < 0.15 ? 4u : 8u)
            << "kicks " << gap * 1000 << " ms apart: " << shells;
    }
}

TEST(PulseShow, ANewBeatStartsThePulseOverFromTheCentre) {
    const int rate = 48000;
    // In 100 ms packets the second kick arrives while the first one's pulse is under way.
    Signal signal = silence(0.8, rate);
    addAt(addAt(signal, kick(-6.0, rate), 0.0, rate), kick(-6.0, rate), 0.16, rate);
    std::string shells = shellsPlayed(signal, rate, 100);
    EXPECT_EQ(shells.substr(3, 10), "cc11cc1122") << shells;
}

TEST(PulseShow, SteadySoundsAndSilenceHaveNoBeats) {
    const int rate = 44100;
    Signal chord = tone(70.0, -12.0, 3.0, rate);
    addAt(addAt(chord, tone(440.0, -12.0, 3.0, rate), 0.0, rate), tone(660.0, -12.0, 3.0, rate),
          0.0, rate);
    const Signal sounds[] = {
        tone(55.0, -6.0, 3.0, rate),   tone(100.0, -20.0, 3.0, rate),
        tone(1000.0, -6.0, 3.0, rate), chord,
        whiteNoise(-60.0, 3.0, rate),  silence(3.0, rate),
    };
    for (const Signal& sound : sounds) {
        for (int packetMs : {10, 100}) {
            // At most one beat, where the sound starts.
            std::string shells = shellsPlayed(sound, rate, packetMs);
            std::vector<int> starts = pulseStarts(shells);
            EXPECT_TRUE(starts.empty() ||
                        (starts.size() == 1 && starts[0] <= frameHaving(0.1, rate, packetMs)))
                << shells;
        }
    }
}

} // namespace
