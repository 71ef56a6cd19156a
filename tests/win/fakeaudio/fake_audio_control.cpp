// Reading fake-audio.txt: what the test says the PC's audio does.
#include <stdlib.h>

#include <locale>
#include <sstream>

#include "fake_audio.h"

namespace fakeaudio {

const char* formatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16:
        return "int16";
    case SampleFormat::Int24:
        return "int24";
    case SampleFormat::Int32:
        return "int32";
    case SampleFormat::Float32:
        break;
    }
    return "float32";
}

int bytesPerSample(SampleFormat format) {
    switch (format) {
    case SampleFormat::Int16:
        return 2;
    case SampleFormat::Int24:
        return 3;
    case SampleFormat::Int32:
    case SampleFormat::Float32:
        break;
    }
    return 4;
}

const Device* Control::find(const std::string& id) const {
    for (const Device& device : devices)
        if (device.id == id)
            return &device;
    return nullptr;
}

std::string Control::defaultFor(bool render) const {
    const Device* named = find(render ? defaultRender : defaultCapture);
    if (named && named->render == render && named->state == DEVICE_STATE_ACTIVE)
        return named->id;
    for (const Device& device : devices)
        if (device.render == render && device.state == DEVICE_STATE_ACTIVE)
            return device.id;
    return "";
}

Signal Control::signalOf(const std::string& id) const {
    auto found = signals.find(id);
    return found == signals.end() ? Signal() : found->second;
}

namespace {

// A statement's words; a word in double quotes may hold spaces, and \" or \\ inside it stand
// for the character itself.
bool splitWords(const std::string& line, std::vector<std::string>* words, std::string* problem) {
    size_t at = 0;
    while (at < line.size()) {
        char c = line[at];
        if (c == ' ' || c == '\t') {
            ++at;
            continue;
        }
        if (c == '#')
            break;
        std::string word;
        if (c == '"') {
            for (++at;; ++at) {
                if (at >= line.size()) {
                    *problem = "no closing quote";
                    return false;
                }
                if (line[at] == '"')
                    break;
                if (line[at] == '\\' && at + 1 < line.size())
                    ++at;
                word += line[at];
            }
            ++at;
        } else {
            while (at < line.size() && line[at] != ' ' && line[at] != '\t')
                word += line[at++];
        }
        words->push_back(word);
    }
    return true;
}

// With a decimal point whatever locale the program under test has chosen.
bool readNumber(const std::string& text, double low, double high, double* value) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double read = 0;
    if (!(in >> read) || in.peek() != std::char_traits<char>::eof() ||
        !(read >= low && read <= high))
        return false;
    *value = read;
    return true;
}

bool readWhole(const std::string& text, long low, long high, long* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    long read = strtol(text.c_str(), &end, 10);
    if (*end != '\0' || read < low || read > high)
        return false;
    *value = read;
    return true;
}

// "key=value" into its halves; false when there is no '='.
bool splitSetting(const std::string& word, std::string* key, std::string* value) {
    size_t equals = word.find('=');
    if (equals == std::string::npos)
        return false;
    *key = word.substr(0, equals);
    *value = word.substr(equals + 1);
    return true;
}

std::string readDevice(const std::vector<std::string>& words, Control* control) {
    if (words.size() < 4)
        return "a device needs an id, render or capture, and a name";
    Device device;
    device.id = words[1];
    if (words[2] == "render")
        device.render = true;
    else if (words[2] == "capture")
        device.render = false;
    else
        return "not render or capture: " + words[2];
    device.name = words[3];
    for (size_t i = 4; i < words.size(); ++i) {
        std::string key, value;
        if (!splitSetting(words[i], &key, &value))
            return "not a setting: " + words[i];
        long number = 0;
        if (key == "format") {
            if (value == "float32")
                device.format.sample = SampleFormat::Float32;
            else if (value == "int16")
                device.format.sample = SampleFormat::Int16;
            else if (value == "int24")
                device.format.sample = SampleFormat::Int24;
            else if (value == "int32")
                device.format.sample = SampleFormat::Int32;
            else
                return "no such format: " + value;
        } else if (key == "channels") {
            if (!readWhole(value, 1, 8, &number))
                return "channels are 1 to 8: " + value;
            device.format.channels = (int)number;
        } else if (key == "rate") {
            if (!readWhole(value, 8000, 384000, &number))
                return "rate is 8000 to 384000: " + value;
            device.format.rate = (int)number;
        } else if (key == "state") {
            if (value == "active")
                device.state = DEVICE_STATE_ACTIVE;
            else if (value == "disabled")
                device.state = DEVICE_STATE_DISABLED;
            else if (value == "notpresent")
                device.state = DEVICE_STATE_NOTPRESENT;
            else if (value == "unplugged")
                device.state = DEVICE_STATE_UNPLUGGED;
            else
                return "no such state: " + value;
        } else {
            return "no such setting: " + key;
        }
    }
    if (control->find(device.id))
        return "device " + device.id + " twice";
    control->devices.push_back(device);
    return "";
}

std::string readSignal(const std::vector<std::string>& words, Control* control) {
    if (words.size() < 3)
        return "a signal needs a device and what it carries";
    Signal signal;
    if (words[2] == "silent" || words[2] == "flagsilent") {
        if (words.size() > 3)
            return "nothing may follow " + words[2];
        signal.kind = words[2] == "silent" ? Signal::Silent : Signal::FlagSilent;
        // Flagged silent, yet loud in the buffer: only a program that honours the flag stays dark.
        if (signal.kind == Signal::FlagSilent)
            signal.amplitude = signal.other = 0.9;
    } else if (words[2] == "tone") {
        if (words.size() < 5)
            return "a tone needs an amplitude and a frequency";
        if (!readNumber(words[3], 0, 1, &signal.amplitude))
            return "amplitude is 0 to 1: " + words[3];
        if (!readNumber(words[4], 0, 192000, &signal.frequency))
            return "no such frequency: " + words[4];
        signal.other = 0.9;
        for (size_t i = 5; i < words.size(); ++i) {
            std::string key, value;
            if (!splitSetting(words[i], &key, &value) || key != "other")
                return "not other=<amplitude>: " + words[i];
            if (!readNumber(value, 0, 1, &signal.other))
                return "amplitude is 0 to 1: " + value;
        }
    } else {
        return "not tone, silent or flagsilent: " + words[2];
    }
    control->signals[words[1]] = signal;
    return "";
}

std::string readStatement(const std::vector<std::string>& words, Control* control) {
    const std::string& verb = words[0];
    if (verb == "device")
        return readDevice(words, control);
    if (verb == "signal")
        return readSignal(words, control);
    if (verb == "default") {
        if (words.size() != 3 || (words[1] != "render" && words[1] != "capture"))
            return "not default render|capture <id>";
        (words[1] == "render" ? control->defaultRender : control->defaultCapture) = words[2];
        return "";
    }
    if (verb == "loopback") {
        if (words.size() != 2 || (words[1] != "yes" && words[1] != "no"))
            return "not loopback yes|no";
        control->loopback = words[1] == "yes";
        return "";
    }
    if (verb == "invalidate" || verb == "exclusive") {
        if (words.size() != 2)
            return verb + " takes one device";
        (verb == "invalidate" ? control->invalidated : control->exclusive).insert(words[1]);
        return "";
    }
    if (verb == "port-error") {
        long error = 0;
        if (words.size() != 2 || !readWhole(words[1], 0, 0x7fffffff, &error))
            return "not port-error <Windows error>";
        control->portError = (DWORD)error;
        return "";
    }
    if (verb == "revision") {
        if (words.size() != 2)
            return "revision takes one word";
        control->revision = words[1];
        return "";
    }
    return "no such statement: " + verb;
}

} // namespace

Control parseControl(const std::string& text, std::vector<std::string>* problems) {
    Control control;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> words;
        std::string problem;
        if (splitWords(line, &words, &problem) && !words.empty())
            problem = readStatement(words, &control);
        if (!problem.empty())
            problems->push_back("line " + std::to_string(number) + ": " + problem);
    }
    return control;
}

} // namespace fakeaudio
