#include "pulse_client.h"

using std::chrono::milliseconds;

PulseClient::PulseClient(std::function<void()> news) : news_(std::move(news)) {
    loop_ = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(loop_);
}

PulseClient::~PulseClient() {
    disconnect();
    // Wakes the library's thread and joins it: it never waits on the server.
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseClient::answered() {
    std::lock_guard<std::mutex> lock(mutex_);
    answered_ = true;
    changed_.notify_all();
}

void PulseClient::tellNews() {
    if (news_)
        news_();
}

void PulseClient::contextState(pa_context* context, void* data) {
    PulseClient* client = static_cast<PulseClient*>(data);
    pa_context_state_t state = pa_context_get_state(context);
    {
        std::lock_guard<std::mutex> lock(client->mutex_);
        client->changed_.notify_all();
    }
    if (!PA_CONTEXT_IS_GOOD(state))
        client->tellNews();
}

void PulseClient::serverEvent(pa_context*, pa_subscription_event_type_t, uint32_t, void* data) {
    static_cast<PulseClient*>(data)->tellNews();
}

PulseClient::Outcome PulseClient::connect(milliseconds limit) {
    Outcome outcome = tryConnect(limit);
    if (outcome != kAnswered)
        disconnect();
    return outcome;
}

PulseClient::Outcome PulseClient::tryConnect(milliseconds limit) {
    disconnect();
    {
        LoopLock lock(loop_);
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Lumo Listen");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "lumolisten");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Lumo Listen",
                                                properties);
        pa_proplist_free(properties);
        if (!context_)
            return kNoServer;
        pa_context_set_state_callback(context_, contextState, this);
        // Never start a server of our own: a service started before the user's sound server
        // would otherwise start a second one that no player plays into.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return kNoServer;
    }
    // The library calls back on its own thread under its lock, and takes ours inside it: the
    // state is read under its lock alone, and the wait is in short steps that a change cuts.
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pa_context_state_t state;
        {
            LoopLock lock(loop_);
            state = pa_context_get_state(context_);
        }
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state))
            return kNoServer;
        if (std::chrono::steady_clock::now() >= deadline)
            return kNoAnswer;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, milliseconds(50));
    }
    LoopLock lock(loop_);
    pa_context_set_subscribe_callback(context_, serverEvent, this);
    pa_operation* subscribing = pa_context_subscribe(
        context_,
        (pa_subscription_mask_t)(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK |
                                 PA_SUBSCRIPTION_MASK_SOURCE),
        nullptr, nullptr);
    if (subscribing)
        pa_operation_unref(subscribing);
    return kAnswered;
}

void PulseClient::disconnect() {
    LoopLock lock(loop_);
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

bool PulseClient::connected() {
    LoopLock lock(loop_);
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

PulseClient::Outcome PulseClient::ask(const std::function<pa_operation*()>& start,
                                      milliseconds limit) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answered_ = false;
    }
    pa_operation* operation;
    {
        LoopLock lock(loop_);
        if (!context_ || pa_context_get_state(context_) != PA_CONTEXT_READY)
            return kNoServer;
        operation = start();
        if (!operation)
            return kNoServer;
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (changed_.wait_until(
                    lock, std::min(deadline, std::chrono::steady_clock::now() + milliseconds(50)),
                    [this] { return answered_; }))
                break;
        }
        // A connection that failed meanwhile cancels the question without an answer.
        if (!connected() || std::chrono::steady_clock::now() >= deadline)
            break;
    }
    // Under the library's lock no callback runs: the answer came or it never will, since a
    // cancelled question's callback is never called, and the caller's result may go.
    LoopLock lock(loop_);
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (answered_)
            return kAnswered;
    }
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY ? kNoAnswer : kNoServer;
}

namespace {

// Where a question's answer goes.
struct Answer {
    PulseClient* client;
    void* result;
    bool* found;
};

SoundDevice deviceFrom(const char* name, const char* description, const pa_sample_spec& samples) {
    SoundDevice device;
    device.name = name ? name : "";
    device.description = description ? description : device.name;
    device.rate = (int)samples.rate;
    device.channels = samples.channels;
    return device;
}

} // namespace

// The questions' callbacks, on the library's thread.
struct PulseAnswers {
    static void done(PulseClient* client) { client->answered(); }

    static void serverInfo(pa_context*, const pa_server_info* info, void* data) {
        Answer* answer = static_cast<Answer*>(data);
        std::string* name = static_cast<std::string*>(answer->result);
        name->clear();
        // PipeWire's pulse server names the default by this placeholder until its session
        // manager has chosen one.
        if (info && info->default_sink_name && info->default_sink_name[0] != '@')
            *name = info->default_sink_name;
        done(answer->client);
    }

    static void sinkInfo(pa_context*, const pa_sink_info* info, int end, void* data) {
        Answer* answer = static_cast<Answer*>(data);
        if (info) {
            *static_cast<SoundDevice*>(answer->result) =
                deviceFrom(info->name, info->description, info->sample_spec);
            *answer->found = true;
        }
        if (end != 0) // 1 after the last, -1 when there is no such sink
            done(answer->client);
    }

    static void sourceInfo(pa_context*, const pa_source_info* info, int end, void* data) {
        Answer* answer = static_cast<Answer*>(data);
        if (info)
            static_cast<std::vector<SoundDevice>*>(answer->result)
                ->push_back(deviceFrom(info->name, info->description, info->sample_spec));
        if (end != 0)
            done(answer->client);
    }
};

PulseClient::Outcome PulseClient::defaultSink(std::string* name, milliseconds limit) {
    Answer answer{this, name, nullptr};
    return ask(
        [&] { return pa_context_get_server_info(context_, PulseAnswers::serverInfo, &answer); },
        limit);
}

PulseClient::Outcome PulseClient::sinkNamed(const std::string& name, SoundDevice* sink, bool* found,
                                            milliseconds limit) {
    *found = false;
    Answer answer{this, sink, found};
    return ask(
        [&] {
            return pa_context_get_sink_info_by_name(context_, name.c_str(), PulseAnswers::sinkInfo,
                                                    &answer);
        },
        limit);
}

PulseClient::Outcome PulseClient::sources(std::vector<SoundDevice>* sources, milliseconds limit) {
    sources->clear();
    Answer answer{this, sources, nullptr};
    return ask(
        [&] {
            return pa_context_get_source_info_list(context_, PulseAnswers::sourceInfo, &answer);
        },
        limit);
}
