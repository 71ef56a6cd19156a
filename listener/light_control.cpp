#include "light_control.h"

#include <memory>
#include <mutex>

#include "cube_run.h"
#include "light_network.h"
#include "light_receiver.h"
#include "report.h"

static const char kLitPrefix[] = "The cube is lit ";

static std::mutex controlMutex;
static LightNetwork network;
static std::shared_ptr<LightReceiver> receiver;

// The receiver's news is the user's, and who holds the cube is the tooltip's.
static void tellLight(const std::string& text) {
    tellNews(text);
    if (text.rfind(kLitPrefix, 0) == 0)
        setStatusLitBy(text.substr(sizeof kLitPrefix - 1));
    else if (text == "The cube shows the music again")
        setStatusLitBy(std::string());
}

void startLight(int universe) {
    std::lock_guard<std::mutex> lock(controlMutex);
    if (receiver) {
        network.setUniverse(universe);
        receiver->setUniverse(universe);
        return;
    }
    // A fresh receiver each time: nothing a sender sent before it was turned off lingers.
    receiver = std::make_shared<LightReceiver>(tellLight, cubeLightChanged);
    receiver->setUniverse(universe);
    setCubeLight(receiver);
    network.start(universe, receiver.get(), tellFailure);
    setStatusNetwork(true, 0);
}

void stopLight() {
    std::lock_guard<std::mutex> lock(controlMutex);
    if (!receiver)
        return;
    setCubeLight(nullptr);
    network.stop();
    receiver.reset();
    setStatusLitBy(std::string());
    setStatusNetwork(false, 0);
}

bool lightOn() {
    std::lock_guard<std::mutex> lock(controlMutex);
    return receiver != nullptr;
}
