// The light receivers' Winsock sockets and thread in the build under test, under Wine
// (lightprobe.exe): E1.31 and DDP sent from this side through loopback light what it shows, the
// universe's group is joined, and stopping lets both ports go.
#include <gtest/gtest.h>

#include <cstdio>

#include "harness.h"
#include "light_packets.h"
#include "udp_sender.h"

using namespace harness;
using namespace lightpackets;
using namespace std::chrono_literals;

namespace {

struct LightProbe {
    Process process{wineCommand(build().bin + "/lightprobe.exe", {}), wineOptions(build().bin)};
    UdpSender sender;

    // How often the probe has said `line` so far.
    int said(const std::string& line) {
        process.readAvailable();
        int times = 0;
        for (size_t at = process.output().find(line); at != std::string::npos;
             at = process.output().find(line, at + 1))
            ++times;
        return times;
    }
    // Sends `datagram` every 100 ms, asking what is shown each time, until the probe says
    // `line` once more than before: a fresh prefix takes seconds to start a program.
    bool sendUntil(const std::string& address, int port, const Bytes& datagram,
                   const std::string& line) {
        int before = said(line);
        return waitUntil(
            [&] {
                sender.send(address, port, datagram);
                process.send("shown\n");
                std::this_thread::sleep_for(100ms);
                return said(line) > before;
            },
            30s);
    }
};

TEST(LightNetworkUnderWine, E131AndDdpThroughLoopbackLightTheCubeAndStopLetsThePortsGo) {
    ASSERT_TRUE(udpPortIsFree(5568) && udpPortIsFree(4048))
        << "another program holds port 5568 or 4048; this test needs both";
    LightProbe probe;
    E131Fields fields;
    fields.channels = pixels({42}); // plane 2, row 4, column bit 2
    EXPECT_TRUE(probe.sendUntil("127.0.0.1", 5568, e131(fields), "shown 0 131072 0 0 0\r"))
        << probe.process.output();
    EXPECT_EQ(1, probe.said("news The cube is lit by xLights over E1.31 (from 127.0.0.1)"))
        << probe.process.output();
    if (loopbackCarriesMulticast()) {
        probe.process.send("universe 300\n"); // 239.255.1.44
        fields.universe = 300;
        fields.channels = pixels({0});
        EXPECT_TRUE(probe.sendUntil("239.255.1.44", 5568, e131(fields), "shown 1 0 0 0 0\r"))
            << "the universe's group was not joined: " << probe.process.output();
    } else {
        std::printf("this machine's loopback carries no multicast: the group is not tried\n");
    }
    fields.sequence = 2;
    fields.options = 0x40; // stream terminated
    EXPECT_TRUE(
        probe.sendUntil("127.0.0.1", 5568, e131(fields), "news The cube shows the music again"))
        << probe.process.output();
    DdpFields ddpFields;
    ddpFields.data = pixels({124});
    EXPECT_TRUE(probe.sendUntil("127.0.0.1", 4048, ddp(ddpFields), "shown 0 0 0 0 16777216\r"))
        << probe.process.output();
    EXPECT_EQ(1, probe.said("news The cube is lit over DDP (from 127.0.0.1)"))
        << probe.process.output();

    probe.process.send("stop\n");
    EXPECT_TRUE(probe.process.waitForText("stopped", 10s)) << probe.process.output();
    EXPECT_TRUE(udpPortIsFree(5568) && udpPortIsFree(4048)) << "a socket outlived stop()";
    EXPECT_EQ(0, probe.process.finish());
    EXPECT_EQ(0, probe.said("failure")) << probe.process.output();
}

} // namespace
