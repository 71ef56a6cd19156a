// The music modes of the listener, end to end (of the Windows build under test under Wine, and
// of the Linux edition natively in linux_listener_tests): sound played into a private sound
// server's 48 kHz sink, the columns and shells read off the cube's line. Where the analysis may
// differ by a plane, the tests say where things stand, not which exact frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#ifndef LUMO_LINUX_EDITION
#include "fake_audio.h"
#endif
#include "listener_session.h"
#include "music_signals.h"
#include "sound_server.h"
#include "third_octave_bands.h"

namespace {

using namespace listenertest;
using harness::Pty;
using harness::SoundServer;

const int kRate = 48000;

bool lit(const Bytes& frame, int plane, int row, int bit) {
    return (frame[(size_t)(5 * (plane - 1) + row)] >> bit) & 1;
}

// How tall band k's column stands: planes lit from the floor, plane 5, up. The bands run as a
// serpentine: rows 1, 3 and 5 from bit 0, rows 2 and 4 from bit 4.
int columnHeight(const Bytes& frame, int band) {
    int row = band / 5 + 1;
    int bit = row % 2 == 1 ? band % 5 : 4 - band % 5;
    int height = 0;
    while (height < 5 && lit(frame, 5 - height, row, bit))
        ++height;
    return height;
}

std::string heights(const Bytes& frame) {
    std::ostringstream out;
    for (int band = 0; band < kThirdOctaveBands; ++band)
        out << columnHeight(frame, band);
    return out.str();
}

int litLeds(const Bytes& frame) {
    int count = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i)
        for (int bit = 0; bit < 5; ++bit)
            count += (frame[i] >> bit) & 1;
    return count;
}

// A run of a music mode while `sound` plays into the speakers, then the frames of the line.
struct MusicRun {
    std::vector<Bytes> frames;
    std::string output;
};

MusicRun play(const char* mode, const music::Signal& sound, double seconds) {
#ifndef LUMO_LINUX_EDITION
    harness::restoreSystemAudio();
#endif
    SoundServer server({{"speakers", kRate, "Speakers"}});
    Pty pty;
    harness::TempDir dir;
    EditionListener listener(pty, {"--mode", mode, "--device", "Monitor of Speakers"},
                             server.environment());
    EXPECT_TRUE(listener.run().waitForLine("Listening to Monitor of Speakers"));
    EXPECT_TRUE(listener.run().waitForLine("The cube on " + listener.port() + " is lit"));
    server.play("speakers", harness::writeSignalWav(dir.file("sound.wav"), kRate, sound));
    EXPECT_TRUE(server.waitUntilPlaying("speakers"));
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    EXPECT_EQ(0, listener.stop());
    MusicRun run;
    Bytes bytes = pty.settledBytes();
    CubeLine line = readCubeLine(bytes);
    EXPECT_TRUE(line.startFirst && line.stopLast && line.strays == 0) << cubebytes::hex(bytes);
    run.frames = line.frames;
    run.output = listener.run().output();
    return run;
}

// The frames of the last `seconds` before the end: the sound has long reached the cube.
std::vector<Bytes> lastFrames(const MusicRun& run, double seconds) {
    size_t count = std::min(run.frames.size(), (size_t)(seconds * 1000 / kMusicFrameMs));
    return std::vector<Bytes>(run.frames.end() - (long)count, run.frames.end());
}

struct ToneCase {
    const char* what;
    std::vector<int> bands; // a tone at each band's centre
    double db;              // each tone's peak
};

const ToneCase kTones[] = {
    {"1 kHz, loud", {13}, -6},
    {"160 Hz, 30 dB quieter", {5}, -36},
    {"80 Hz and 5 kHz at once", {2, 20}, -12},
};

TEST(ListenerSpectrum, ATonesColumnStandsTallAndColumnsThreeBandsAwayStayLow) {
    for (const ToneCase& test : kTones) {
        SCOPED_TRACE(test.what);
        music::Signal sound = music::silence(8, kRate);
        for (int band : test.bands) {
            music::Signal one = music::tone(bandCentre(band), test.db, 8, kRate);
            for (size_t i = 0; i < sound.size(); ++i)
                sound[i] += one[i];
        }
        MusicRun run = play("Spectrum", sound, 4);
        std::vector<Bytes> frames = lastFrames(run, 2);
        ASSERT_GT(frames.size(), 40u) << run.output;
        for (const Bytes& frame : frames) {
            for (int band = 0; band < kThirdOctaveBands; ++band) {
                int nearest = 99;
                for (int tone : test.bands)
                    nearest = std::min(nearest, std::abs(band - tone));
                int height = columnHeight(frame, band);
                if (nearest == 0) {
                    EXPECT_GE(height, 4) << "band " << band << ": " << heights(frame);
                } else if (nearest >= 3) {
                    EXPECT_LE(height, 1) << "band " << band << ": " << heights(frame);
                }
            }
        }
    }
}

TEST(ListenerSpectrum, VerySoftNoiseIsADarkCube) {
    MusicRun run = play("Spectrum", music::whiteNoise(-70, 8, kRate), 3);
    std::vector<Bytes> frames = lastFrames(run, 2);
    ASSERT_GT(frames.size(), 40u) << run.output;
    for (const Bytes& frame : frames)
        EXPECT_EQ(0, litLeds(frame)) << heights(frame);
}

TEST(ListenerSpectrum, WhenTheToneStopsTheColumnComesDownToADarkCube) {
    music::Signal sound = music::tone(bandCentre(9), -12, 2.5, kRate);
    music::Signal after = music::silence(3, kRate);
    sound.insert(sound.end(), after.begin(), after.end());
    MusicRun run = play("Spectrum", sound, 5);
    ASSERT_FALSE(run.frames.empty());
    bool stood = false;
    for (const Bytes& frame : run.frames)
        stood = stood || columnHeight(frame, 9) >= 4;
    EXPECT_TRUE(stood) << "the 400 Hz column never stood";
    for (const Bytes& frame : lastFrames(run, 1.5))
        EXPECT_EQ(0, litLeds(frame)) << heights(frame);
}

// The pulse's frames: the centre alone, the 26 LEDs around it, the 98 outer ones, dark.
int shellOf(const Bytes& frame) {
    switch (litLeds(frame)) {
    case 0:
        return -1;
    case 1:
        return lit(frame, 3, 3, 2) ? 0 : 9;
    case 26:
        return lit(frame, 3, 3, 1) && !lit(frame, 3, 3, 2) ? 1 : 9;
    case 98:
        return lit(frame, 1, 1, 0) ? 2 : 9;
    default:
        return 9;
    }
}

// Pulses that began in `frames`: each a first centre frame.
int pulsesIn(const std::vector<Bytes>& frames) {
    int pulses = 0, before = -1;
    for (const Bytes& frame : frames) {
        int shell = shellOf(frame);
        EXPECT_NE(9, shell) << "not a frame of a pulse: " << cubebytes::hex(frame);
        if (shell == 0 && before != 0)
            ++pulses;
        before = shell;
    }
    return pulses;
}

TEST(ListenerPulse, KicksAtASteadyTempoPulseLoudAndThirtyDecibelsSofter) {
    // 120 beats a minute: four seconds loud, then six 30 dB softer.
    music::Signal sound = music::kicks(120, -6, 4, kRate);
    music::Signal soft = music::kicks(120, -36, 6, kRate);
    sound.insert(sound.end(), soft.begin(), soft.end());
    MusicRun run = play("Pulse", sound, 9.5);
    ASSERT_GT(run.frames.size(), 200u) << run.output;
    // The loud ones: about the first third of the run's frames.
    std::vector<Bytes> loud(run.frames.begin() + (long)run.frames.size() / 10,
                            run.frames.begin() + (long)run.frames.size() * 4 / 10);
    int loudBeats = (int)(loud.size() * kMusicFrameMs / 500);
    EXPECT_GE(pulsesIn(loud), loudBeats - 1);
    EXPECT_LE(pulsesIn(loud), loudBeats + 1);
    // The soft ones, once the loud have been out of mind for a while.
    std::vector<Bytes> softFrames = lastFrames(run, 3);
    int softBeats = (int)(softFrames.size() * kMusicFrameMs / 500);
    EXPECT_GE(pulsesIn(softFrames), softBeats - 1);
    EXPECT_LE(pulsesIn(softFrames), softBeats + 1);
}

TEST(ListenerPulse, ASteadyToneHasNoBeats) {
    MusicRun run = play("Pulse", music::tone(80, -6, 8, kRate), 4);
    std::vector<Bytes> frames = lastFrames(run, 2.5);
    ASSERT_GT(frames.size(), 50u) << run.output;
    EXPECT_EQ(0, pulsesIn(frames));
}

} // namespace
