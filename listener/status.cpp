#include <mutex>

#include "report.h"

static std::mutex statusMutex;
static ListenStatus status;

// Changes the status under its lock, then has what shows it follow.
template <typename Change> static void changeStatus(Change change) {
    {
        std::lock_guard<std::mutex> lock(statusMutex);
        change(status);
    }
    statusChanged();
}

void setStatusMode(const std::string& mode) {
    changeStatus([&](ListenStatus& now) { now.mode = mode; });
}

void setStatusPort(const std::string& port) {
    changeStatus([&](ListenStatus& now) { now.port = port; });
}

void setStatusListening(const std::string& listening) {
    changeStatus([&](ListenStatus& now) { now.listening = listening; });
}

void setStatusLit(bool lit) {
    changeStatus([&](ListenStatus& now) { now.lit = lit; });
}

void setStatusLitBy(const std::string& litBy) {
    changeStatus([&](ListenStatus& now) { now.litBy = litBy; });
}

void setStatusNetwork(bool network, unsigned long long dropped) {
    changeStatus([&](ListenStatus& now) {
        now.network = network;
        now.dropped = dropped;
    });
}

ListenStatus currentStatus() {
    std::lock_guard<std::mutex> lock(statusMutex);
    return status;
}

std::string statusText(const ListenStatus& now) {
    std::string text = "Lumo Listen: " + now.mode + " on " + now.port +
                       (now.lit ? ", cube lit" : ", cube dark") + "\nListening to " + now.listening;
    if (!now.litBy.empty())
        text += "\nLit " + now.litBy;
    else if (now.network)
        text += "\nOther programs may light it";
    if (now.network && now.dropped > 0)
        text += " (" + std::to_string(now.dropped) + " bad packets dropped)";
    return text;
}
