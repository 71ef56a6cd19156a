// The receiving thread on this machine's real sockets: E1.31 and DDP datagrams sent through
// loopback to ports 5568 and 4048 must reach the receiver, garbage must not stop them, a port
// another program holds must be told once and taken when it is free, and stop() must let the
// ports go.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

#include "ddp_packet.h"
#include "e131_packet.h"
#include "harness.h"
#include "light_network.h"
#include "light_packets.h"
#include "light_receiver.h"
#include "udp_sender.h"

namespace {

using namespace lightpackets;
using namespace std::chrono_literals;
using harness::waitUntil;

// Lines told from the receiving thread, read by the test's.
struct Lines {
    std::mutex mutex;
    std::vector<std::string> lines;
    LightReceiver::Tell teller() {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        };
    }
    std::string all() {
        std::lock_guard<std::mutex> lock(mutex);
        std::string text;
        for (const std::string& line : lines)
            text += "\"" + line + "\" ";
        return text;
    }
    bool has(const std::string& line) {
        return all().find("\"" + line + "\"") != std::string::npos;
    }
};

struct Network : ::testing::Test {
    Lines news, failures;
    LightReceiver receiver{news.teller()};
    LightNetwork network;
    harness::UdpSender sender;
    int sequence = 0;

    bool showsPixel(int pixel) {
        std::optional<CubePlanes> planes = receiver.newestFor(LightReceiver::Clock::now());
        return planes && (planes->plane[pixel / 25] & (1 << pixel % 25));
    }
    // Sends E1.31 lighting `pixel` every 50 ms until the cube shows it: the thread opens its
    // ports and joins groups in its own time.
    bool e131Shows(const std::string& address, int pixel, int universe = 1) {
        return waitUntil(
            [&] {
                E131Fields fields;
                fields.channels = pixels({pixel});
                fields.sequence = ++sequence;
                fields.universe = universe;
                sender.send(address, kE131Port, e131(fields));
                return waitUntil([&] { return showsPixel(pixel); }, 50ms);
            },
            10s);
    }
    bool ddpShows(int pixel) {
        return waitUntil(
            [&] {
                DdpFields fields;
                fields.data = pixels({pixel});
                sender.send("127.0.0.1", kDdpPort, ddp(fields));
                return waitUntil([&] { return showsPixel(pixel); }, 50ms);
            },
            10s);
    }
    std::string seen() {
        return "dropped " + std::to_string(receiver.droppedCount()) + ", news " + news.all() +
               ", failures " + failures.all();
    }
};

TEST_F(Network, UnicastE131AndDdpLightTheCubeAndStopLetsThePortsGo) {
    ASSERT_TRUE(harness::udpPortIsFree(kE131Port) && harness::udpPortIsFree(kDdpPort))
        << "another program holds port 5568 or 4048; this test needs both";
    network.start(1, &receiver, failures.teller());
    EXPECT_TRUE(e131Shows("127.0.0.1", 42)) << seen();
    EXPECT_TRUE(news.has("The cube is lit by xLights over E1.31 (from 127.0.0.1)")) << seen();
    E131Fields end;
    end.sequence = ++sequence;
    end.options = kE131OptionTerminated;
    sender.send("127.0.0.1", kE131Port, e131(end));
    EXPECT_TRUE(waitUntil([&] { return news.has("The cube shows the music again"); })) << seen();
    EXPECT_TRUE(ddpShows(7)) << seen();
    EXPECT_TRUE(news.has("The cube is lit over DDP (from 127.0.0.1)")) << seen();

    auto stopping = LightReceiver::Clock::now();
    network.stop();
    EXPECT_LT(LightReceiver::Clock::now() - stopping, 2s) << "stop() kept its caller waiting";
    EXPECT_TRUE(harness::udpPortIsFree(kE131Port) && harness::udpPortIsFree(kDdpPort))
        << "a socket outlived stop()";
    EXPECT_EQ("", failures.all());
}

TEST_F(Network, MulticastForTheUniverseArrivesAndFollowsAChangeOfUniverse) {
    if (!harness::loopbackCarriesMulticast())
        GTEST_SKIP() << "this machine's loopback does not carry multicast; on a network the "
                        "sender's group datagrams reach every interface that joined";
    network.start(1, &receiver, failures.teller());
    EXPECT_TRUE(e131Shows("239.255.0.1", 11)) << seen();
    network.setUniverse(300); // 239.255.1.44
    EXPECT_TRUE(e131Shows("239.255.1.44", 12, 300)) << seen();
}

TEST_F(Network, APacedFloodOfGarbageIsCountedAndTheFrameAfterItShown) {
    network.start(1, &receiver, failures.teller());
    ASSERT_TRUE(e131Shows("127.0.0.1", 1)) << seen();
    std::uint64_t before = receiver.droppedCount();
    const int kGarbage = 500;
    for (int i = 0; i < kGarbage; ++i) {
        Bytes garbage((std::size_t)(i * 37 % 700), (std::uint8_t)i);
        sender.send("127.0.0.1", i % 2 ? (int)kDdpPort : (int)kE131Port, garbage);
        if (i % 20 == 19) // a burst would overflow the socket's buffer and lose datagrams
            std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(waitUntil([&] { return receiver.droppedCount() - before == kGarbage; }))
        << kGarbage << " sent, " << seen();
    EXPECT_TRUE(e131Shows("127.0.0.1", 2)) << seen();
}

TEST_F(Network, APortAnotherProgramHoldsIsToldOnceAndTakenWhenFree) {
    int holder = socket(AF_INET, SOCK_DGRAM, 0); // without SO_REUSEADDR: not to be shared
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(kDdpPort);
    ASSERT_EQ(0, bind(holder, (const sockaddr*)&address, sizeof address));
    network.start(1, &receiver, failures.teller());
    const std::string told = "Cannot receive DDP: port 4048 is in use by another program";
    EXPECT_TRUE(waitUntil([&] { return failures.has(told); })) << seen();
    EXPECT_TRUE(e131Shows("127.0.0.1", 3)) << "E1.31 stopped too: " << seen();
    close(holder);
    EXPECT_TRUE(ddpShows(4)) << "the port was not taken once free: " << seen();
    EXPECT_EQ("\"" + told + "\" ", failures.all());
}

} // namespace
