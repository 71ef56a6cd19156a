// The endpoint side of the fake: the enumerator, its device collections, the devices and their
// property stores. Devices are looked up by id at each call, so an object the program holds
// follows the control file as a real endpoint follows the hardware.
#include "fake_audio.h"

namespace fakeaudio {

namespace {

const char* flowName(bool render) {
    return render ? "render" : "capture";
}

bool sameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

class PropertyStore final : public IPropertyStore {
  public:
    explicit PropertyStore(const std::wstring& name) : name_(name) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IPropertyStore)) {
            *object = static_cast<IPropertyStore*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        if (!count)
            return E_POINTER;
        *count = sizeof keys / sizeof keys[0];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
        if (!key)
            return E_POINTER;
        if (index >= sizeof keys / sizeof keys[0])
            return E_INVALIDARG;
        *key = *keys[index];
        return S_OK;
    }
    // Every name Windows gives an endpoint is the one name here; anything else is not set, which
    // Windows says with VT_EMPTY and success.
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        if (!value)
            return E_POINTER;
        PropVariantInit(value);
        for (const PROPERTYKEY* known : keys) {
            if (!sameKey(key, *known) || name_.empty())
                continue;
            value->pwszVal = copyForCaller(name_);
            if (!value->pwszVal)
                return E_OUTOFMEMORY;
            value->vt = VT_LPWSTR;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override {
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }

  private:
    static constexpr const PROPERTYKEY* keys[] = {&deviceFriendlyName, &deviceDescription,
                                                  &interfaceFriendlyName};
    LONG references_ = 1;
    std::wstring name_;
};

class Endpoint final : public IMMDevice, public IMMEndpoint {
  public:
    Endpoint(const std::string& id, bool render) : id_(id), render_(render) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMDevice))
            *object = static_cast<IMMDevice*>(this);
        else if (iid == __uuidof(IMMEndpoint))
            *object = static_cast<IMMEndpoint*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        return guarded([&] {
            if (iid != __uuidof(IAudioClient)) {
                log("Activate %s unsupported %s", id_.c_str(), guidText(iid).c_str());
                return E_NOINTERFACE;
            }
            Lock lock;
            const Device* device = control().find(id_);
            if (!device || device->state != DEVICE_STATE_ACTIVE ||
                control().invalidated.count(id_)) {
                log("Activate %s invalidated", id_.c_str());
                return AUDCLNT_E_DEVICE_INVALIDATED;
            }
            log("Activate %s", id_.c_str());
            return createClient(id_, render_, iid, object);
        });
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore** store) override {
        if (!store)
            return E_POINTER;
        *store = nullptr;
        return guarded([&] {
            std::wstring name;
            {
                Lock lock;
                if (const Device* device = control().find(id_))
                    name = widen(device->name);
            }
            *store = new PropertyStore(name);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
        if (!id)
            return E_POINTER;
        return guarded([&] {
            *id = copyForCaller(widen(id_));
            return *id ? S_OK : E_OUTOFMEMORY;
        });
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        if (!state)
            return E_POINTER;
        Lock lock;
        const Device* device = control().find(id_);
        *state = device ? device->state : DEVICE_STATE_NOTPRESENT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataFlow(EDataFlow* flow) override {
        if (!flow)
            return E_POINTER;
        *flow = render_ ? eRender : eCapture;
        return S_OK;
    }

  private:
    LONG references_ = 1;
    std::string id_;
    bool render_;
};

class Collection final : public IMMDeviceCollection {
  public:
    explicit Collection(const std::vector<const Device*>& devices) {
        for (const Device* device : devices)
            devices_.emplace_back(device->id, device->render);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMDeviceCollection)) {
            *object = static_cast<IMMDeviceCollection*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = (UINT)devices_.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
        if (!device)
            return E_POINTER;
        *device = nullptr;
        if (index >= devices_.size())
            return E_INVALIDARG;
        return createDevice(devices_[index].first, devices_[index].second, device);
    }

  private:
    LONG references_ = 1;
    std::vector<std::pair<std::string, bool>> devices_; // id, render
};

class Enumerator final : public IMMDeviceEnumerator {
  public:
    Enumerator() { log("Create enumerator"); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMDeviceEnumerator)) {
            *object = static_cast<IMMDeviceEnumerator*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            // Windows keeps calling clients registered through an enumerator that is gone, into
            // a program that may have freed them: worth seeing in a test.
            size_t registered = registeredNotifications();
            if (registered > 0)
                log("Release enumerator with %u registered", (unsigned)registered);
            else
                log("Release enumerator");
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states,
                                                 IMMDeviceCollection** devices) override {
        if (!devices)
            return E_POINTER;
        *devices = nullptr;
        if ((flow != eRender && flow != eCapture && flow != eAll) ||
            (states & ~DEVICE_STATEMASK_ALL) != 0)
            return E_INVALIDARG;
        return guarded([&] {
            Lock lock;
            std::vector<const Device*> found;
            std::string ids;
            for (const Device& device : control().devices) {
                if ((device.state & states) == 0 || (flow == eRender && !device.render) ||
                    (flow == eCapture && device.render))
                    continue;
                found.push_back(&device);
                ids += " " + device.id;
            }
            log("Enumerate %s 0x%lx ->%s", flow == eAll ? "all" : flowName(flow == eRender),
                (unsigned long)states, ids.empty() ? " nothing" : ids.c_str());
            *devices = new Collection(found);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                      IMMDevice** device) override {
        if (!device)
            return E_POINTER;
        *device = nullptr;
        if ((flow != eRender && flow != eCapture) || role < eConsole || role > eCommunications)
            return E_INVALIDARG;
        return guarded([&] {
            static const char* const roles[] = {"console", "multimedia", "communications"};
            std::string id;
            {
                Lock lock;
                id = control().defaultFor(flow == eRender);
            }
            log("Default %s %s %s", flowName(flow == eRender), roles[role],
                id.empty() ? "none" : id.c_str());
            if (id.empty())
                return E_NOTFOUND;
            return createDevice(id, flow == eRender, device);
        });
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
        if (!id || !device)
            return E_POINTER;
        *device = nullptr;
        return guarded([&] {
            std::string wanted = narrow(id);
            bool render = true;
            bool known = false;
            {
                Lock lock;
                if (const Device* found = control().find(wanted)) {
                    known = true;
                    render = found->render;
                }
            }
            log("GetDevice %s%s", wanted.c_str(), known ? "" : " not-found");
            if (!known)
                return E_NOTFOUND;
            return createDevice(wanted, render, device);
        });
    }
    HRESULT STDMETHODCALLTYPE
    RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        return registerNotifications(client);
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        return unregisterNotifications(client);
    }

  private:
    LONG references_ = 1;
};

} // namespace

HRESULT createDevice(const std::string& id, bool render, IMMDevice** device) {
    return guarded([&] {
        *device = new Endpoint(id, render);
        return S_OK;
    });
}

HRESULT createEnumerator(REFIID iid, void** object) {
    return guarded([&] {
        Enumerator* enumerator = new Enumerator();
        HRESULT result = enumerator->QueryInterface(iid, object);
        enumerator->Release();
        return result;
    });
}

} // namespace fakeaudio
