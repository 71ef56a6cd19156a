#include "devices.h"

#include <functiondiscoverykeys_devpkey.h>

#include "text.h"

// Kept here rather than taken from a library, whose copy of the key some toolchains lack.
static const PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

static const CLSID kEnumeratorClass = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
static const IID kEnumeratorInterface = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};

IMMDeviceEnumerator* createDeviceEnumerator() {
    IMMDeviceEnumerator* enumerator = NULL;
    if (FAILED(CoCreateInstance(kEnumeratorClass, NULL, CLSCTX_INPROC_SERVER, kEnumeratorInterface,
                                (void**)&enumerator)))
        return NULL;
    return enumerator;
}

std::string deviceName(IMMDevice* device) {
    std::string name;
    IPropertyStore* properties = NULL;
    if (FAILED(device->OpenPropertyStore(STGM_READ, &properties)))
        return name;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(properties->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR &&
        value.pwszVal != NULL)
        name = utf8(value.pwszVal);
    PropVariantClear(&value);
    properties->Release();
    return name;
}

std::wstring deviceId(IMMDevice* device) {
    std::wstring id;
    LPWSTR text = NULL;
    if (SUCCEEDED(device->GetId(&text)) && text != NULL) {
        id = text;
        CoTaskMemFree(text);
    }
    return id;
}

// Calls `visit` with each active recording device until it returns false.
template <typename Visit>
static void eachRecordingDevice(IMMDeviceEnumerator* enumerator, Visit visit) {
    IMMDeviceCollection* devices = NULL;
    if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, &devices)))
        return;
    UINT count = 0;
    devices->GetCount(&count);
    for (UINT i = 0; i < count; ++i) {
        IMMDevice* device = NULL;
        if (FAILED(devices->Item(i, &device)))
            continue;
        bool goOn = visit(device);
        device->Release();
        if (!goOn)
            break;
    }
    devices->Release();
}

std::vector<std::string> recordingDeviceNames(IMMDeviceEnumerator* enumerator) {
    std::vector<std::string> names;
    eachRecordingDevice(enumerator, [&](IMMDevice* device) {
        std::string name = deviceName(device);
        if (!name.empty())
            names.push_back(name);
        return true;
    });
    return names;
}

IMMDevice* recordingDeviceNamed(IMMDeviceEnumerator* enumerator, const std::string& name) {
    IMMDevice* found = NULL;
    eachRecordingDevice(enumerator, [&](IMMDevice* device) {
        if (deviceName(device) != name)
            return true;
        device->AddRef();
        found = device;
        return false;
    });
    return found;
}

IMMDevice* defaultDevice(IMMDeviceEnumerator* enumerator, EDataFlow flow) {
    IMMDevice* device = NULL;
    if (FAILED(enumerator->GetDefaultAudioEndpoint(flow, eConsole, &device)))
        return NULL;
    return device;
}
