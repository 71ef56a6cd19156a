// What the listener tells its user, and the state it shows. Each platform says it its own way
// (Windows: a line on standard output when something reads it, a balloon for a failure, the
// tray's tooltip for the state; Linux: a line on standard output, which a service's journal
// keeps), so the words are the same everywhere.
#pragma once

#include <string>

// From any thread. News is a line; a failure is a line that also reaches the user where they
// look (a balloon on Windows).
void tellNews(const std::string& text);
void tellFailure(const std::string& text);

// What the tooltip shows. Each field is set by the thread that knows it.
struct ListenStatus {
    std::string mode;               // "Levels"
    std::string port;               // "COM3", "/dev/ttyUSB0"
    std::string listening;          // "what this PC plays (Speakers)"
    bool lit = false;               // the port is open and frames go out
    std::string litBy;              // another program that lights the cube now ("Jinx over E1.31")
    bool network = false;           // other programs may light the cube
    unsigned long long dropped = 0; // packets from other programs that were not light
};

// From any thread: change the status; what shows it follows.
void setStatusMode(const std::string& mode);
void setStatusPort(const std::string& port);
void setStatusListening(const std::string& listening);
void setStatusLit(bool lit);
void setStatusLitBy(const std::string& litBy);
void setStatusNetwork(bool network, unsigned long long dropped);
ListenStatus currentStatus();
// "Lumo Listen: Levels on COM3, cube lit", "Listening to ...", and, while other programs may
// light the cube, who does or that none does, with the packets dropped.
std::string statusText(const ListenStatus& status);

// Each platform's: the status changed (called outside the status's lock).
void statusChanged();
