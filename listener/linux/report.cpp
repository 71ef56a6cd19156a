// On Linux what the listener tells goes to standard output, one line each: a terminal shows it,
// and a service's journal keeps it.
#include "report.h"

#include <cstdio>
#include <mutex>

static std::mutex outputMutex;

static void writeLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    // A pipe or the journal buffers otherwise: a line must be there when it happened.
    std::fflush(stdout);
}

void tellNews(const std::string& text) {
    writeLine(text);
}

void tellFailure(const std::string& text) {
    writeLine(text);
}

// Nothing shows the state all the time here; what changes is told as it happens.
void statusChanged() {}
