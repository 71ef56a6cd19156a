// The PC's sound devices as Windows names them, through its audio endpoint service. The caller's
// thread has COM initialised.
#pragma once

#include <string>
#include <vector>

#include <mmdeviceapi.h>

// The enumerator, or null (no audio service). The caller releases it.
IMMDeviceEnumerator* createDeviceEnumerator();
// The device's name as Windows shows it ("Speakers (Realtek High Definition Audio)"), UTF-8.
std::string deviceName(IMMDevice* device);
std::wstring deviceId(IMMDevice* device);
// Every recording device that is there now, by name, in Windows' order.
std::vector<std::string> recordingDeviceNames(IMMDeviceEnumerator* enumerator);
// The active recording device of that name, or null. The caller releases it.
IMMDevice* recordingDeviceNamed(IMMDeviceEnumerator* enumerator, const std::string& name);
// The default device of a direction for the console role, or null.
IMMDevice* defaultDevice(IMMDeviceEnumerator* enumerator, EDataFlow flow);
