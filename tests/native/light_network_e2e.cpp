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

// Lines told on the receiving thread, each in quotes, read on the test's.
struct Lines {
    std::mutex mutex;
    std::string text;
    LightReceiver::Tell teller() {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            text += "\"" + line + "\" ";
        };
    }
    std::string all() {
        std::lock_guard<std::mutex> lock(mutex);
        return text;
    }
    bool has(const std::string& line) {
        return all().find("\"" + line + "\"") != std::string::npos;
    }
};

Bytes e131Lighting(int pixel, int universe = 1, int options = 0) {
    static int sequence = 0;
    E131Fields fields;
    fields.channels = pixels({pixel});
    fields.sequence = ++sequence;
    fields.universe = universe;
    fields.options = options;
    return e131(fields);
}

Bytes ddpLighting(int pixel) {
    DdpFields fields;
    fields.data = pixels({pixel});
    return ddp(fields);
}

struct Network : ::testing::Test {
    Lines news, failures;
    LightReceiver receiver{news.teller()};
    LightNetwork network;
    harness::UdpSender sender;

    // Sends `datagram` every 50 ms until the cube shows `pixel`: the thread opens its ports and
    // joins groups in its own time. A repeat of an E1.31 datagram is dropped as such.
    bool shows(const std::string& address, int port, const Bytes& datagram, int pixel) {
        return waitUntil(
            [&] {
                sender.send(address, port, datagram);
                return waitUntil(
                    [&] {
                        std::optional<CubePlanes> planes =
                            receiver.newestFor(LightReceiver::Clock::now());
                        return planes && (planes->plane[pixel / 25] & (1 << pixel % 25));
                    },
                    50ms);
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
    EXPECT_TRUE(shows("127.0.0.1", kE131Port, e131Lighting(42), 42)) << seen();
    EXPECT_TRUE(news.has("The cube is lit by xLights over E1.31 (from 127.0.0.1)")) << seen();
    sender.send("127.0.0.1", kE131Port, e131Lighting(0, 1, kE131OptionTerminated));
    EXPECT_TRUE(waitUntil([&] { return news.has("The cube shows the music again"); })) << seen();
    EXPECT_TRUE(shows("127.0.0.1", kDdpPort, ddpLighting(7), 7)) << seen();
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
    EXPECT_TRUE(shows("239.255.0.1", kE131Port, e131Lighting(11), 11)) << seen();
    network.setUniverse(300); // 239.255.1.44
    EXPECT_TRUE(shows("239.255.1.44", kE131Port, e131Lighting(12, 300), 12)) << seen();
}

TEST_F(Network, APacedFloodOfGarbageIsCountedAndTheFrameAfterItShown) {
    network.start(1, &receiver, failures.teller());
    ASSERT_TRUE(shows("127.0.0.1", kE131Port, e131Lighting(1), 1)) << seen();
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
    EXPECT_TRUE(shows("127.0.0.1", kE131Port, e131Lighting(2), 2)) << seen();
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
    EXPECT_TRUE(shows("127.0.0.1", kE131Port, e131Lighting(3), 3))
        << "E1.31 stopped too: " << seen();
    close(holder);
    EXPECT_TRUE(shows("127.0.0.1", kDdpPort, ddpLighting(4), 4))
        << "the port was not taken once free: " << seen();
    EXPECT_EQ("\"" + told + "\" ", failures.all());
}

} // namespace
