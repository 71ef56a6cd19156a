// lightprobe: runs the light receivers' thread on universe 1 as the listener will, and says
// what it would tell: "news ..." and "failure ..." lines as they come. Commands on stdin:
//   shown          "shown music", or "shown P1 P2 P3 P4 P5": what the cube would show now
//   universe N     listen to universe N from now on
//   stop           stops the thread; answers "stopped" once it has let the ports go
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>

#include <mutex>
#include <string>

#include "light_network.h"
#include "light_receiver.h"

static std::mutex output;

static void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(output);
    printf("%s\n", line.c_str());
    fflush(stdout);
}

int main() {
    LightReceiver receiver([](const std::string& line) { say("news " + line); });
    LightNetwork network;
    network.start(1, &receiver, [](const std::string& line) { say("failure " + line); });
    char line[128];
    while (fgets(line, sizeof line, stdin)) {
        std::string command(line, strcspn(line, "\r\n"));
        if (command == "shown") {
            std::optional<CubePlanes> planes = receiver.newestFor(LightReceiver::Clock::now());
            std::string text = "shown";
            for (int plane = 0; plane < kCubePlanes; ++plane)
                text += planes ? " " + std::to_string(planes->plane[plane]) : "";
            say(planes ? text : "shown music");
        } else if (command.rfind("universe ", 0) == 0) {
            network.setUniverse(atoi(command.c_str() + 9));
        } else if (command == "stop") {
            network.stop();
            say("stopped");
        }
    }
    return 0;
}
