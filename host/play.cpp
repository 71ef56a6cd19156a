// Plays audio through a plugin as the player would. The play position advances by the
// module's delay per render call, not by the clock: render call k takes the 576 samples from
// k * delay ms on, so the same file always yields the same blocks and the same number of
// calls, however busy the machine. The calls are still paced by the clock, one per delay.
#include <algorithm>
#include <cstdio>
#include <map>

#include "audio.h"
#include "vis_host.h"
#include "vishost.h"

namespace {

// How long the test signal plays when no --seconds is given: three rise-and-fall cycles.
const double kTestSignalSeconds = 12.0;
const int kTestSignalRate = 44100;

void printReport(const VisHost& host, int renderCalls, int lastResult) {
    std::printf("render calls: %d (last result %d)\n", renderCalls, lastResult);
    std::map<unsigned, int> requests;
    int boxes = 0, keys = 0;
    for (const HostEvent& event : host.history()) {
        if (event.kind == HostEvent::kRequest)
            ++requests[event.message];
        else if (event.kind == HostEvent::kBox)
            ++boxes;
        else if (event.kind == HostEvent::kKey)
            ++keys;
    }
    std::printf("message boxes: %d\n", boxes);
    for (const HostEvent& event : host.history())
        if (event.kind == HostEvent::kBox || event.kind == HostEvent::kFrame)
            std::printf("  %s\n", describeEvent(event).c_str());
    std::printf("requests:");
    for (const auto& request : requests)
        std::printf(" %u x%d", request.first, request.second);
    std::printf("%s\nkeys forwarded: %d\n", requests.empty() ? " none" : "", keys);
}

} // namespace

int runPlay(const PlayOptions& options) {
    Audio audio;
    std::string error;
    if (!options.wav.empty()) {
        if (!loadWav(options.wav, &audio, &error)) {
            std::fprintf(stderr, "vishost: %s: %s\n", options.wav.c_str(), error.c_str());
            return kExitBadInput;
        }
    } else {
        audio = makeTestSignal(kTestSignalRate,
                               options.seconds > 0 ? options.seconds : kTestSignalSeconds);
    }
    std::size_t endFrame = audio.frames();
    if (options.seconds > 0)
        endFrame = std::min(endFrame, (std::size_t)(options.seconds * audio.sampleRate));

    VisHost host;
    host.setAutoAnswer(options.autoOk);
    host.setQuirks(options.quirks);
    host.setAudioFormat(audio.sampleRate, audio.channels);
    if (!host.load(options.plugin, &error)) {
        std::fprintf(stderr, "vishost: %s\n", error.c_str());
        return kExitBadInput;
    }
    winampVisModule* mod = host.module(options.module);
    if (mod == nullptr) {
        std::fprintf(stderr, "vishost: the plugin has no module %d\n", options.module);
        return kExitBadInput;
    }
    // A delay below 1 ms would never move the play position on.
    const int delayMs = std::max(1, mod->delayMs);
    std::printf("plugin: %s\nmodule %d: %s (delay %d ms)\n", host.header()->description,
                options.module, mod->description, mod->delayMs);
    std::printf("audio: %s, %d Hz, %d channel(s), %d bits, %.2f s\n",
                options.wav.empty() ? "test signal" : options.wav.c_str(), audio.sampleRate,
                audio.channels, audio.bitsPerSample, (double)endFrame / audio.sampleRate);
    std::fflush(stdout);

    const int initResult = host.init(mod);
    std::printf("init: %d\n", initResult);
    if (initResult != 0 && !options.quirks.ignoreInitResult) {
        printReport(host, 0, 0);
        return kExitInitFailed;
    }

    int renderCalls = 0, lastResult = 0;
    const DWORD start = GetTickCount();
    for (std::size_t k = 0;; ++k) {
        const std::size_t position = renderPosition(k, delayMs, audio.sampleRate);
        if (position >= endFrame || host.frameCloseRequested())
            break;
        const DWORD due = start + (DWORD)(k * (std::size_t)delayMs);
        const LONG wait = (LONG)(due - GetTickCount());
        host.pumpMessages(wait > 0 ? (DWORD)wait : 0);
        for (int channel = 0; channel < 2; ++channel)
            fillWaveformBlock(audio, position, channel, mod->waveformData[channel]);
        lastResult = host.render(mod);
        ++renderCalls;
        if (lastResult != 0)
            break; // the plugin asked to stop
    }
    host.quit(mod);
    printReport(host, renderCalls, lastResult);
    return initResult != 0 ? kExitInitFailed : kExitOk;
}
