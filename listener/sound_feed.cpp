#include "sound_feed.h"

#include <cstring>

bool mixFormatUsable(const MixFormat& format) {
    static const int kBytes[] = {2, 3, 4, 4}; // per sample, by encoding
    return format.channels >= 1 && format.channels <= 8 && format.rate >= 8000 &&
           format.rate <= 384000 && format.frameSize >= format.channels * kBytes[format.encoding];
}

SoundFeed::SoundFeed() {
    std::memset(ring_, 0, sizeof ring_);
}

void SoundFeed::start(const MixFormat& format) {
    std::lock_guard<std::mutex> lock(mutex_);
    format_ = format;
    step_ = (double)format.rate / kPlayerRate;
    position_ = 0.0;
    previous_ = 0.0f;
    std::memset(ring_, 0, sizeof ring_);
    next_ = 0;
    mix_.assign((std::size_t)(format.rate / 2), 0.0f);
    mixNext_ = 0;
    mixWaiting_ = 0;
    restarted_ = true;
}

// Little-endian, as every Windows mix format and PulseAudio's native ones on our platforms are.
float SoundFeed::sampleAt(const unsigned char* frame, int channel) const {
    static const int kBytes[] = {2, 3, 4, 4}; // per sample, by encoding
    frame += channel * kBytes[format_.encoding];
    switch (format_.encoding) {
    case MixFormat::kInt16: {
        std::int16_t value = (std::int16_t)(frame[0] | frame[1] << 8);
        return value / 32768.0f;
    }
    case MixFormat::kInt24: {
        std::int32_t value =
            (std::int32_t)((std::uint32_t)frame[0] << 8 | (std::uint32_t)frame[1] << 16 |
                           (std::uint32_t)frame[2] << 24) >>
            8;
        return value / 8388608.0f;
    }
    case MixFormat::kInt32: {
        std::int32_t value =
            (std::int32_t)((std::uint32_t)frame[0] | (std::uint32_t)frame[1] << 8 |
                           (std::uint32_t)frame[2] << 16 | (std::uint32_t)frame[3] << 24);
        return (float)(value / 2147483648.0);
    }
    case MixFormat::kFloat32:
    default: {
        float value;
        std::memcpy(&value, frame, sizeof value);
        return value;
    }
    }
}

void SoundFeed::addPlayerSample(std::int16_t sample) {
    ring_[next_] = waveformByte(sample);
    next_ = (next_ + 1) % kBlockSamples;
}

// Linear interpolation between the device's samples at the player's rate: the level reads
// the steps between successive samples, which a rate other than 44.1 kHz would scale.
void SoundFeed::addSample(float value) {
    if (step_ == 1.0) {
        addPlayerSample(sampleFromUnit(value));
        return;
    }
    while (position_ < 1.0) {
        addPlayerSample(sampleFromUnit(previous_ + (value - previous_) * (float)position_));
        position_ += step_;
    }
    position_ -= 1.0;
    previous_ = value;
}

void SoundFeed::addMix(float value) {
    if (mix_.empty())
        return;
    mix_[mixNext_] = value;
    mixNext_ = (mixNext_ + 1) % mix_.size();
    if (mixWaiting_ < mix_.size())
        ++mixWaiting_;
}

void SoundFeed::push(const unsigned char* data, std::size_t frames, bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    float share = 1.0f / (float)format_.channels;
    for (std::size_t i = 0; i < frames; ++i) {
        if (silent || !data) {
            addSample(0.0f);
            addMix(0.0f);
            continue;
        }
        const unsigned char* frame = data + i * (std::size_t)format_.frameSize;
        float first = sampleAt(frame, 0);
        float sum = first;
        for (int channel = 1; channel < format_.channels; ++channel)
            sum += sampleAt(frame, channel);
        addSample(first);
        // A broken sample would poison every band's filter for good: it counts as silence.
        float mean = sum * share;
        addMix(mean == mean && mean < 8.0f && mean > -8.0f ? mean : 0.0f);
    }
}

void SoundFeed::pushSilence(double milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A block of silence clears every sample a block holds; more changes nothing.
    double frames = milliseconds * format_.rate / 1000.0;
    double most = (kBlockSamples + 2) * step_ + 2;
    std::size_t count = (std::size_t)(frames < most ? frames : most);
    for (std::size_t i = 0; i < count; ++i)
        addSample(0.0f);
    // The music modes count time by the samples they get: all of the silence, up to what the
    // mix keeps.
    std::size_t mixCount = (std::size_t)(frames < (double)mix_.size() ? frames : mix_.size());
    for (std::size_t i = 0; i < mixCount; ++i)
        addMix(0.0f);
}

void SoundFeed::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memset(ring_, 0, sizeof ring_);
    previous_ = 0.0f;
}

void SoundFeed::takeMix(std::vector<float>* samples, int* rate, bool* restarted) {
    std::lock_guard<std::mutex> lock(mutex_);
    samples->clear();
    *rate = format_.rate;
    *restarted = restarted_;
    restarted_ = false;
    std::size_t size = mix_.size();
    for (std::size_t i = 0; i < mixWaiting_; ++i)
        samples->push_back(mix_[(mixNext_ + size - mixWaiting_ + i) % size]);
    mixWaiting_ = 0;
}

void SoundFeed::newestBlock(unsigned char out[kBlockSamples]) const {
    std::lock_guard<std::mutex> lock(mutex_);
    // Oldest first, as the player's block runs.
    std::size_t tail = kBlockSamples - next_;
    std::memcpy(out, ring_ + next_, tail);
    std::memcpy(out + tail, ring_, next_);
}
