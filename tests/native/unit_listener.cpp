// The listener's platform-free parts: a command line read wrongly sends the wrong frames or none,
// and a mix format read wrongly lights the cube for the wrong sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "level.h"
#include "sound_feed.h"

namespace {

struct CommandCase {
    PortStyle ports;
    std::vector<std::string> args;
    const char* error; // nullptr: accepted
};

TEST(ListenerCommandLine, AcceptsWhatScriptsWriteAndRefusesTheRestInOneLine) {
    const CommandCase cases[] = {
        {kComPorts, {}, nullptr},
        {kComPorts, {"--mode", "Star", "--port", "12", "--seconds", "2.5"}, nullptr},
        {kComPorts, {"--mode=newstar", "--port=COM255"}, nullptr},
        {kComPorts, {"--mode", "SPECTRUM", "--network", "--universe", "63999"}, nullptr},
        {kComPorts, {"--device", "Monitor of Speakers"}, nullptr},
        {kComPorts, {"--list"}, nullptr},
        {kDevicePaths, {"--port", "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0"}, nullptr},
        {kComPorts, {"--colour", "red"}, "unknown option --colour"},
        {kComPorts, {"-p", "3"}, "unknown option -p"},
        {kComPorts,
         {"--mode", "Disco"},
         "--mode takes Star, Levels, NewStar, Spectrum or Pulse, not Disco"},
        {kComPorts, {"--port", "0"}, "--port takes a number from 1 to 255, not 0"},
        {kComPorts, {"--port", "256"}, "--port takes a number from 1 to 255, not 256"},
        {kComPorts, {"--port", "3x"}, "--port takes a number from 1 to 255, not 3x"},
        {kComPorts, {"--port", "-1"}, "--port takes a number from 1 to 255, not -1"},
        {kComPorts, {"--port", "/dev/ttyUSB0"}, "--port takes a number from 1 to 255"},
        {kDevicePaths,
         {"--port", "ttyUSB0"},
         "--port takes a serial device's path, such as /dev/ttyUSB0, not ttyUSB0"},
        {kDevicePaths, {"--port", "3"}, "--port takes a serial device's path"},
        {kComPorts,
         {"--seconds", "0"},
         "--seconds takes a number of seconds greater than 0, not 0"},
        {kComPorts,
         {"--seconds", "nan"},
         "--seconds takes a number of seconds greater than 0, not nan"},
        {kComPorts, {"--universe", "0"}, "--universe takes a number from 1 to 63999, not 0"},
        {kComPorts, {"--universe", "64000"}, "--universe takes a number from 1 to 63999"},
        {kComPorts, {"--network=yes"}, "--network takes no value"},
        {kComPorts, {"--port"}, "--port needs a value"},
        {kComPorts, {"--device", ""}, "--device needs the name of a recording device"},
    };
    for (const CommandCase& test : cases) {
        CommandLine parsed;
        std::string error;
        bool accepted = parseCommandLine(test.args, test.ports, &parsed, &error);
        std::string shown = ::testing::PrintToString(test.args);
        if (!test.error) {
            EXPECT_TRUE(accepted) << shown << ": " << error;
        } else {
            EXPECT_FALSE(accepted) << shown;
            EXPECT_EQ(0u, error.rfind(test.error, 0)) << shown << " said: " << error;
            EXPECT_EQ(std::string::npos, error.find('\n')) << shown;
        }
    }
    CommandLine parsed;
    std::string error;
    ASSERT_TRUE(parseCommandLine({"--mode=newstar", "--port=com255", "--seconds", "2.5"}, kComPorts,
                                 &parsed, &error));
    EXPECT_EQ(kModeNewStar, *parsed.mode);
    EXPECT_EQ("COM255", *parsed.port);
    EXPECT_DOUBLE_EQ(2.5, *parsed.seconds);
    EXPECT_FALSE(parsed.device);
    EXPECT_FALSE(parsed.network);
    ASSERT_TRUE(parseCommandLine({"--network", "--universe=7", "--port", "/dev/ttyACM0"},
                                 kDevicePaths, &parsed, &error));
    EXPECT_TRUE(parsed.network);
    EXPECT_EQ(7, *parsed.universe);
    EXPECT_EQ("/dev/ttyACM0", *parsed.port);
}

TEST(ListenerCommandLine, AMissingDeviceIsNamedWithTheDevicesThereAre) {
    EXPECT_EQ("there is no recording device named \"Mic\"; there are: \"Monitor of Speakers\", "
              "\"PulseAudio\"",
              unknownDeviceMessage("Mic", {"Monitor of Speakers", "PulseAudio"}));
    EXPECT_EQ("there is no recording device named \"Mic\"; this PC has none",
              unknownDeviceMessage("Mic", {}));
}

// A tone on channel 0 and a louder, different one on every other channel, in `format`.
std::vector<unsigned char> toneFrames(const MixFormat& format, double seconds, double amplitude,
                                      double frequency) {
    size_t frames = (size_t)(seconds * format.rate);
    std::vector<unsigned char> bytes(frames * format.frameSize, 0);
    for (size_t i = 0; i < frames; ++i) {
        for (int channel = 0; channel < format.channels; ++channel) {
            double value = channel == 0
                               ? amplitude * std::sin(2 * M_PI * frequency * i / format.rate)
                               : 0.9 * std::sin(2 * M_PI * 440.0 * i / format.rate);
            unsigned char* at =
                &bytes[i * format.frameSize + channel * (format.frameSize / format.channels)];
            switch (format.encoding) {
            case MixFormat::kInt16: {
                int16_t sample = (int16_t)std::lround(value * 32767);
                std::memcpy(at, &sample, 2);
                break;
            }
            case MixFormat::kInt24: {
                int32_t sample = (int32_t)std::lround(value * 8388607);
                at[0] = (unsigned char)sample;
                at[1] = (unsigned char)(sample >> 8);
                at[2] = (unsigned char)(sample >> 16);
                break;
            }
            case MixFormat::kInt32: {
                int32_t sample = (int32_t)std::lround(value * 2147483647.0);
                std::memcpy(at, &sample, 4);
                break;
            }
            case MixFormat::kFloat32: {
                float sample = (float)value;
                std::memcpy(at, &sample, 4);
                break;
            }
            }
        }
    }
    return bytes;
}

// The level the player would hand over for the tone, made at 44.1 kHz from the start.
int playerLevel(double amplitude, double frequency) {
    MixFormat player{MixFormat::kInt16, 1, kPlayerRate, 2};
    SoundFeed feed;
    feed.start(player);
    std::vector<unsigned char> bytes = toneFrames(player, 0.1, amplitude, frequency);
    feed.push(bytes.data(), bytes.size() / 2, false);
    unsigned char block[kBlockSamples];
    feed.newestBlock(block);
    return channel_level(block);
}

TEST(ListenerSoundFeed, EveryMixFormatGivesTheLevelThePlayerWouldOfChannelZero) {
    const MixFormat formats[] = {
        {MixFormat::kFloat32, 2, 48000, 8}, // Windows' usual shared mix format
        {MixFormat::kFloat32, 2, 44100, 8}, // a CD-rate device
        {MixFormat::kInt16, 1, 44100, 2},   // a mono microphone
        {MixFormat::kInt24, 6, 48000, 18},  // 5.1 in packed 24-bit
        {MixFormat::kInt32, 8, 96000, 32},  // 7.1 at 96 kHz
        {MixFormat::kInt16, 2, 22050, 4},   // an old USB headset
    };
    // Levels well inside a band of every pattern, from quiet to loud.
    const double tones[][2] = {{0.2, 300}, {0.5, 1000}, {0.78, 2000}};
    for (const MixFormat& format : formats) {
        for (const auto& tone : tones) {
            SoundFeed feed;
            feed.start(format);
            std::vector<unsigned char> bytes = toneFrames(format, 0.2, tone[0], tone[1]);
            feed.push(bytes.data(), bytes.size() / format.frameSize, false);
            unsigned char block[kBlockSamples];
            feed.newestBlock(block);
            int expected = playerLevel(tone[0], tone[1]);
            EXPECT_NEAR(expected, channel_level(block), 1 + expected / 20)
                << format.channels << " channels of encoding " << format.encoding << " at "
                << format.rate << " Hz, tone " << tone[0] << " at " << tone[1] << " Hz";
        }
    }
}

TEST(ListenerSoundFeed, SilenceAndSilentPacketsDarkenTheBlock) {
    MixFormat format{MixFormat::kFloat32, 2, 48000, 8};
    std::vector<unsigned char> loud = toneFrames(format, 0.1, 0.8, 2000);
    unsigned char block[kBlockSamples];
    auto levelAfter = [&](auto feedIt) {
        SoundFeed feed;
        feed.start(format);
        feed.push(loud.data(), loud.size() / 8, false);
        feedIt(feed);
        feed.newestBlock(block);
        return channel_level(block);
    };
    EXPECT_GT(levelAfter([](SoundFeed&) {}), 50);
    // Loopback sends nothing while nothing plays: 20 ms of silence is more than a block.
    EXPECT_EQ(0, levelAfter([](SoundFeed& feed) { feed.pushSilence(20); }));
    // A packet flagged silent is silence, whatever its buffer holds.
    EXPECT_EQ(0, levelAfter([&](SoundFeed& feed) { feed.push(loud.data(), 2000, true); }));
    EXPECT_EQ(0, levelAfter([](SoundFeed& feed) { feed.clear(); }));
}

} // namespace
