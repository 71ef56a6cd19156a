// fakeaudio.dll: Windows' audio endpoint service as lumolisten.exe meets it, for its tests. Wine
// cannot show much of what Windows' audio does (loopback capture, an output that plays nothing
// and so sends no packets, the default output changing, a device pulled, exclusive mode, 24-bit
// and 5.1 mix formats), so a test registers this DLL as the MMDeviceEnumerator class and says
// what the PC's audio does in fake-audio.txt beside it. What the program asked for is written to
// fake-audio-log.txt beside it, one line per call worth knowing about.
//
// fake-audio.txt, one statement a line; blank lines, and a line's rest from a word that starts
// with #, are ignored; a line the fake cannot read is skipped and logged ("Control line 3: no such
// format: int8"). It is read when the first enumerator is made and within 20 ms of each change.
//   device <id> render|capture "<name>" [format=float32|int16|int24|int32] [channels=1..8]
//          [rate=8000..384000] [state=active|disabled|notpresent|unplugged]
//       An endpoint, listed in the file's order. Defaults: float32, 2 channels, 48000 Hz, active.
//       The name is UTF-8; \" and \\ stand for " and \ in it. Its mix format is
//       WAVE_FORMAT_EXTENSIBLE, int24 packed in 3 bytes, all bits valid.
//   default render|capture <id>
//       The default endpoint for every role, while it is active; otherwise, as Windows falls back,
//       the first active endpoint of that direction; none when there is none (E_NOTFOUND).
//   loopback yes|no
//       no: as in Wine, a loopback stream initializes but GetService refuses it a capture client
//       (AUDCLNT_E_WRONG_ENDPOINT_TYPE). Default yes, as on Windows.
//   signal <id> tone <amplitude> <frequency> [other=<amplitude>]
//       Channel 0 carries a sine of this amplitude (0..1 of full scale) and frequency; every
//       other channel a 440 Hz sine of the other amplitude (default 0.9).
//   signal <id> silent
//       No packets at all, as Windows' loopback while nothing plays; no backlog afterwards.
//   signal <id> flagsilent
//       Packets flagged AUDCLNT_BUFFERFLAGS_SILENT that hold a loud tone (0.9, 1000 Hz) anyway.
//       A device without a signal line sends packets of zeros.
//   invalidate <id>
//       Every client of the device is ended for good (AUDCLNT_E_DEVICE_INVALIDATED from then
//       on), and Activate fails so while the line is there.
//   exclusive <id>
//       Another program holds the device: Initialize fails with AUDCLNT_E_DEVICE_IN_USE while
//       the line is there, and the streams already running on it are ended.
//   port-error <Windows error>
//       Every COM port open of lumolink.dll in the process fails with this error (0: none), from
//       the moment both the fake and lumolink.dll are loaded.
//   revision <word>
//       Only named in the log line that says the file is in force.
// A device unplugged, disabled or gone, or given another format, ends the clients of it too.
//
// Each change is told to the registered IMMNotificationClients from the fake's own thread, in
// this order: OnDeviceAdded, OnDeviceStateChanged, OnPropertyValueChanged (a new name), for a
// device gone OnDeviceStateChanged(DEVICE_STATE_NOTPRESENT) and OnDeviceRemoved, then for each
// direction whose default changed OnDefaultDeviceChanged for eConsole, eMultimedia and
// eCommunications.
//
// fake-audio-log.txt, one line a call or event:
//   Loaded <program>.exe | Control applied [revision <word>] | Control missing |
//   Control line <n>: <problem> | Create enumerator | Release enumerator [with <n> registered] |
//   Enumerate render|capture|all 0x<state mask> -> <ids>|nothing |
//   Default render|capture console|multimedia|communications <id>|none |
//   GetDevice <id> [not-found] | Register notifications | Unregister notifications |
//   Activate <id> [invalidated|unsupported <iid>] | live clients <n> |
//   GetMixFormat <id> <format> <channels> <rate> |
//   Initialize <id> shared [loopback] [event] | Initialize <id> again|invalidated|
//       exclusive-held|exclusive refused|unsupported-format|invalid 0x<flags> |
//   Initialize <id> shared loopback wrong-endpoint |
//   GetService <id> capture|refused|wrong-endpoint|invalidated|not-initialized|unsupported <iid> |
//   Start <id> [invalidated|not-initialized] | Stop <id> | Reset <id> | First packet <id> |
//   Client <id> invalidated removed|disabled|unplugged|notpresent|invalidated|exclusive|
//       format-changed | Release client <id> |
//   Notify added|removed <id> | Notify state <id> <state> | Notify property <id> name |
//   Notify default render|capture <role> <id>|none | Port error <n> | Port hook failed
// "Control applied" comes after the notifications of that change have been delivered.
#pragma once

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <propsys.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace fakeaudio {

// Property keys and format subtypes, spelt out here: mingw's libuuid does not have them.
const PROPERTYKEY deviceFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
const PROPERTYKEY deviceDescription = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 2};
const PROPERTYKEY interfaceFriendlyName = {
    {0x026e516e, 0xb814, 0x414b, {0x83, 0xcd, 0x85, 0x6d, 0x6f, 0xef, 0x48, 0x22}}, 2};
const GUID subtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID subtypeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

enum class SampleFormat { Float32, Int16, Int24, Int32 };
const char* formatName(SampleFormat format);
int bytesPerSample(SampleFormat format);

// A stream's layout, as a mix format gives it or a client asks for it.
struct StreamFormat {
    SampleFormat sample = SampleFormat::Float32;
    int channels = 2;
    int rate = 48000;
    int blockAlign() const { return channels * bytesPerSample(sample); }
    bool operator==(const StreamFormat& other) const {
        return sample == other.sample && channels == other.channels && rate == other.rate;
    }
    bool operator!=(const StreamFormat& other) const { return !(*this == other); }
};

struct Device {
    std::string id;
    bool render = true;
    std::string name; // UTF-8
    StreamFormat format;
    DWORD state = DEVICE_STATE_ACTIVE;
};

// What a device's stream carries. Channel 0 (front left; centre on a mono device) holds one tone,
// every other channel another, so a program that reads the wrong channel sees the wrong level.
struct Signal {
    enum Kind { Tone, Silent, FlagSilent };
    Kind kind = Tone;
    double amplitude = 0; // of full scale
    double frequency = 1000;
    double other = 0;
    double otherFrequency = 440;
};

struct Control {
    std::vector<Device> devices; // in the file's order
    std::string defaultRender;   // as written; see defaultFor()
    std::string defaultCapture;
    bool loopback = true;
    std::map<std::string, Signal> signals; // a device without one delivers packets of zeros
    std::set<std::string> invalidated;
    std::set<std::string> exclusive;
    DWORD portError = 0;
    std::string revision;

    const Device* find(const std::string& id) const;
    // The default device Windows would report: the one named, while it is active; otherwise, as
    // Windows falls back when the default goes away, the first active device of that direction.
    std::string defaultFor(bool render) const;
    Signal signalOf(const std::string& id) const;
};

// Reads a control file's text. Statements it cannot read are skipped, each with a note in
// `problems` ("line 3: ...").
Control parseControl(const std::string& text, std::vector<std::string>* problems);

// ---- Shared by the COM objects (fake_audio.cpp) ----

// Appends one line to fake-audio-log.txt, at once.
void log(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Everything the objects share is guarded by one lock: the control, the clients, the
// notification clients.
class Lock {
  public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    bool held_;
};
const Control& control(); // only under Lock

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* text);
std::string guidText(REFGUID guid);
WCHAR* copyForCaller(const std::wstring& text); // CoTaskMemAlloc'd, for the caller to free

// Objects the DLL hands out; each stays alive while the caller holds a reference.
HRESULT createEnumerator(REFIID iid, void** object);
HRESULT createDevice(const std::string& id, bool render, IMMDevice** device);
HRESULT createClient(const std::string& id, bool render, REFIID iid, void** object);

// Clients of the audio stream, so that a device's change reaches the streams already open on it.
class Client;
void addClient(Client* client);    // under Lock
void removeClient(Client* client); // under Lock
// Ends, for good, every client of a device that can no longer work (under Lock).
void invalidateClients();
void clientsChanged(); // logs the number of live clients (under Lock)
// Sets the events of clients that asked for one per period (under Lock).
void signalClientEvents();

// Notification clients the program registered; process-wide, as Windows' service keeps them.
HRESULT registerNotifications(IMMNotificationClient* client);
HRESULT unregisterNotifications(IMMNotificationClient* client);
size_t registeredNotifications();

// Runs `body`, turning anything thrown into E_OUTOFMEMORY: nothing thrown may cross into the
// program's COM call.
template <typename Body> HRESULT guarded(Body body) {
    try {
        return body();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace fakeaudio
