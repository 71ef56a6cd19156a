#include "light_receiver.h"

#include <algorithm>
#include <cstring>

#include "ddp_packet.h"
#include "e131_packet.h"

// A source is lost this long after its last packet, as E1.31 has it for its own.
static const std::chrono::milliseconds kSourceTimeout(2500);
// E1.31 for other universes alone this long, and the user hears which.
static const std::chrono::milliseconds kOtherUniverseAfter(1000);
// So many sources at once and no more: a flood of made-up CIDs must not grow without end.
static const std::size_t kMaxSources = 16;
static const std::size_t kMaxPushers = 256;
static const int kDdpPriority = 100;
// An E1.31 packet this close behind the last of its source came late: the newer one is shown.
static const int kSequenceWindow = 20;

LightReceiver::LightReceiver(Tell news, std::function<void()> changed)
    : news_(std::move(news)), changed_(std::move(changed)) {}

void LightReceiver::setUniverse(int universe) {
    std::unique_lock<std::mutex> lock(mutex_);
    Told told;
    if (universe != universe_) {
        universe_ = universe;
        sources_.erase(std::remove_if(sources_.begin(), sources_.end(),
                                      [](const Source& source) { return !source.ddp; }),
                       sources_.end());
        lastOurs_.reset();
        otherSince_.reset();
        otherTold_ = false;
        elect(&told);
    }
    tell(lock, told);
}

int LightReceiver::universe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return universe_;
}

void LightReceiver::receiveE131(const std::uint8_t* datagram, std::size_t size,
                                const std::string& sender, Clock::time_point at) {
    std::unique_lock<std::mutex> lock(mutex_);
    Told told;
    expireLocked(at, &told);
    E131Result result = parseE131(datagram, size);
    const E131Packet& packet = result.packet;
    std::string key = "E1.31 " + std::string(packet.cid.begin(), packet.cid.end());
    Source* source = result.drop == E131Drop::kNone ? find(key) : nullptr;
    bool terminated = (packet.options & kE131OptionTerminated) != 0;
    if (result.drop != E131Drop::kNone || (packet.options & kE131OptionPreview)) {
        ++dropped_;
    } else if (packet.universe != universe_) {
        noteOtherUniverse(packet.universe, at, &told);
    } else if (source && (std::int8_t)(packet.sequence - source->sequence) <= 0 &&
               (std::int8_t)(packet.sequence - source->sequence) > -kSequenceWindow) {
        ++dropped_; // came late or twice
    } else if (terminated) {
        // Its data means nothing; the next source, or the music, at once.
        lastOurs_ = at;
        if (source) {
            sources_.erase(sources_.begin() + (source - sources_.data()));
            elect(&told);
        }
    } else if (source || (source = add(key, sender, at)) != nullptr) {
        lastOurs_ = at;
        otherSince_.reset();
        source->name = packet.sourceName;
        source->sender = sender;
        source->priority = packet.priority;
        source->sequence = packet.sequence;
        source->last = at;
        show(source, planesFromChannels(packet.channels, packet.channelCount), &told);
    }
    tell(lock, told);
}

void LightReceiver::receiveDdp(const std::uint8_t* datagram, std::size_t size,
                               const std::string& sender, Clock::time_point at) {
    std::unique_lock<std::mutex> lock(mutex_);
    Told told;
    expireLocked(at, &told);
    DdpResult result = parseDdp(datagram, size);
    const DdpPacket& packet = result.packet;
    std::string key = "DDP " + sender;
    Source* source = nullptr;
    if (result.drop != DdpDrop::kNone)
        ++dropped_;
    else if ((source = find(key)) != nullptr || (source = add(key, sender, at)) != nullptr) {
        source->ddp = true;
        source->priority = kDdpPriority;
        source->last = at;
        source->channels.resize(kCubeChannels);
        // The part of the data that falls on the cube's channels, if any.
        if (packet.offset < (std::uint32_t)kCubeChannels && packet.length > 0) {
            std::size_t room = kCubeChannels - packet.offset;
            std::memcpy(source->channels.data() + packet.offset, packet.data,
                        std::min(room, packet.length));
        }
        if (packet.push && pushers_.size() < kMaxPushers)
            pushers_.insert(sender);
        // Senders that never push exist; each of their packets is a frame.
        if (packet.push || pushers_.count(sender) == 0)
            show(source, planesFromChannels(source->channels.data(), kCubeChannels), &told);
    }
    tell(lock, told);
}

void LightReceiver::expire(Clock::time_point now) {
    std::unique_lock<std::mutex> lock(mutex_);
    Told told;
    expireLocked(now, &told);
    tell(lock, told);
}

std::optional<CubePlanes> LightReceiver::newestFor(Clock::time_point now) {
    std::unique_lock<std::mutex> lock(mutex_);
    Told told;
    expireLocked(now, &told);
    handedOut_ = version_;
    Source* holder = holder_.empty() ? nullptr : find(holder_);
    std::optional<CubePlanes> planes = holder ? holder->planes : std::nullopt;
    tell(lock, told);
    return planes;
}

void LightReceiver::frameWritten() {
    std::lock_guard<std::mutex> lock(mutex_);
    written_ = handedOut_;
}

bool LightReceiver::waitForChange(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changedSignal_.wait_for(lock, limit, [this] { return version_ != written_; });
}

std::uint64_t LightReceiver::droppedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

LightReceiver::Source* LightReceiver::find(const std::string& key) {
    for (Source& source : sources_)
        if (source.key == key)
            return &source;
    return nullptr;
}

// Null when as many sources as are kept are live: the datagram is dropped.
LightReceiver::Source* LightReceiver::add(const std::string& key, const std::string& sender,
                                          Clock::time_point at) {
    if (sources_.size() >= kMaxSources) {
        ++dropped_;
        return nullptr;
    }
    Source source;
    source.key = key;
    source.sender = sender;
    source.last = at;
    sources_.push_back(source);
    return &sources_.back();
}

void LightReceiver::show(Source* source, const CubePlanes& planes, Told* told) {
    bool differs = !source->planes || std::memcmp(&*source->planes, &planes, sizeof planes) != 0;
    source->planes = planes;
    if (differs && source->key == holder_) {
        ++version_;
        told->changed = true;
    }
    elect(told);
}

void LightReceiver::expireLocked(Clock::time_point now, Told* told) {
    std::size_t before = sources_.size();
    sources_.erase(
        std::remove_if(sources_.begin(), sources_.end(),
                       [&](const Source& source) { return now - source.last >= kSourceTimeout; }),
        sources_.end());
    if (sources_.size() != before)
        elect(told);
}

// The holder keeps the cube unless a source with a frame and a higher priority is live; when it
// is gone, the highest priority takes it, the most recently heard of them first.
void LightReceiver::elect(Told* told) {
    const Source* holder = holder_.empty() ? nullptr : find(holder_);
    const Source* best = holder && holder->planes ? holder : nullptr;
    for (const Source& source : sources_) {
        if (!source.planes)
            continue;
        if (!best || source.priority > best->priority ||
            (best != holder && source.priority == best->priority && source.last > best->last))
            best = &source;
    }
    std::string key = best ? best->key : std::string();
    if (key == holder_)
        return;
    holder_ = key;
    ++version_;
    told->changed = true;
    if (!best)
        told->news.push_back("The cube shows the music again");
    else if (best->ddp)
        told->news.push_back("The cube is lit over DDP (from " + best->sender + ")");
    else
        told->news.push_back("The cube is lit " +
                             (best->name.empty() ? std::string() : "by " + best->name + " ") +
                             "over E1.31 (from " + best->sender + ")");
}

// Told once per universe setting: E1.31 arrives, but for other universes only, for a while.
void LightReceiver::noteOtherUniverse(int universe, Clock::time_point at, Told* told) {
    if (otherTold_ || (lastOurs_ && at - *lastOurs_ < kSourceTimeout))
        return;
    if (!otherSince_) {
        otherSince_ = at;
        return;
    }
    if (at - *otherSince_ < kOtherUniverseAfter)
        return;
    otherTold_ = true;
    told->news.push_back("E1.31 arrives for universe " + std::to_string(universe) +
                         ", but the cube shows universe " + std::to_string(universe_));
}

void LightReceiver::tell(std::unique_lock<std::mutex>& lock, const Told& told) {
    if (!told.news.empty()) {
        std::lock_guard<std::mutex> order(tellMutex_);
        lock.unlock();
        for (const std::string& line : told.news)
            if (news_)
                news_(line);
    }
    if (lock.owns_lock())
        lock.unlock();
    if (told.changed) {
        changedSignal_.notify_all();
        if (changed_)
            changed_();
    }
}
