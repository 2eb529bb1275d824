// The test control of the software Direct3D 9: the switches tests set, injected failures, call
// counts, creation records and the live-object registry. Linked only into test programs; it
// attaches itself to the device before main (see soft_d3d9_internal.h).
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "platform/soft_d3d9/soft_d3d9_internal.h"

namespace kesto::soft_d3d9 {
namespace {

struct InjectedFailure {
    HRESULT code;
    int remaining;  // < 0: until Reset
};

// Everything below is guarded by `mutex`. No call leaves this class with the mutex held, so
// objects may call in from any thread and from inside their own locks.
class State final : public internal::Control {
  public:
    std::mutex mutex;
    internal::Configuration configuration;
    bool failClassRegistration = false;
    // Looked up by string_view (std::less<>), so that a call that is counted or checked for an
    // injected failure allocates nothing once its name is known.
    std::map<std::string, std::vector<InjectedFailure>, std::less<>> failures;
    std::map<std::string, size_t, std::less<>> callCounts;
    std::vector<DeviceRecord> devices;
    std::vector<RenderTargetRecord> renderTargets;
    std::vector<TextureRecord> textures;
    std::unordered_map<const void*, std::string> liveObjects;
    std::set<internal::DeviceStateSink*> liveDevices;

    HRESULT EnterCall(const char* interfaceName, const char* method) override {
        std::lock_guard<std::mutex> lock(mutex);
        char buffer[128];
        const int length = std::snprintf(buffer, sizeof buffer, "%s::%s", interfaceName, method);
        const std::string_view qualified(
            buffer, static_cast<size_t>(std::clamp(length, 0, int(sizeof buffer) - 1)));
        Count(qualified);
        Count(method);
        HRESULT code = S_OK;
        if (TakeFailure(qualified, &code) || TakeFailure(method, &code)) return code;
        if (failClassRegistration && std::string_view(method) == "RegisterClass") return E_FAIL;
        return S_OK;
    }
    internal::Configuration CurrentConfiguration() override {
        std::lock_guard<std::mutex> lock(mutex);
        return configuration;
    }
    void RegisterObject(const void* object, std::string description) override {
        std::lock_guard<std::mutex> lock(mutex);
        liveObjects[object] = std::move(description);
    }
    void UnregisterObject(const void* object) override {
        std::lock_guard<std::mutex> lock(mutex);
        liveObjects.erase(object);
    }
    void RegisterDevice(internal::DeviceStateSink* device) override {
        std::lock_guard<std::mutex> lock(mutex);
        liveDevices.insert(device);
    }
    void UnregisterDevice(internal::DeviceStateSink* device) override {
        std::lock_guard<std::mutex> lock(mutex);
        liveDevices.erase(device);
    }
    void RecordDevice(const DeviceRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex);
        devices.push_back(record);
    }
    void RecordRenderTarget(const RenderTargetRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex);
        renderTargets.push_back(record);
    }
    void RecordTexture(const TextureRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex);
        textures.push_back(record);
    }

  private:
    void Count(std::string_view name) {
        auto found = callCounts.find(name);
        if (found == callCounts.end()) found = callCounts.emplace(std::string(name), 0).first;
        ++found->second;
    }
    // Takes one injected failure for `name`, if any.
    bool TakeFailure(std::string_view name, HRESULT* code) {
        auto found = failures.find(name);
        if (found == failures.end() || found->second.empty()) return false;
        InjectedFailure& failure = found->second.front();
        *code = failure.code;
        if (failure.remaining > 0 && --failure.remaining == 0)
            found->second.erase(found->second.begin());
        return true;
    }
};

// Made before main and never freed: Direct3D objects a host never released may still report
// to it while the program's globals are destroyed.
State& GetState() {
    static State* state = [] {
        auto* made = new State{};
        internal::attachedControl.store(made, std::memory_order_release);
        return made;
    }();
    return *state;
}
[[maybe_unused]] const bool attachedBeforeMain = (GetState(), true);

// Runs `action` on the state with its mutex held and returns what it returns.
template <typename Action>
auto Locked(Action action) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return action(state);
}

}  // namespace

void Reset() {
    State& state = GetState();
    internal::UnregisterWindowClass();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.configuration = internal::Configuration{};
    state.failClassRegistration = false;
    state.failures.clear();
    state.callCounts.clear();
    state.devices.clear();
    state.renderTargets.clear();
    state.textures.clear();
}

void SetAdapterMonitors(const std::vector<RECT>& monitors) {
    Locked([&](State& state) { state.configuration.monitors = monitors; });
}

void SetExtendedAvailable(bool available) {
    Locked([&](State& state) { state.configuration.extendedAvailable = available; });
}

void SetCaps(bool hardwareTransform, bool dynamicTextures, bool pow2Textures) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.configuration.hardwareTransform = hardwareTransform;
    state.configuration.dynamicTextures = dynamicTextures;
    state.configuration.pow2Textures = pow2Textures;
}

void SetSupportedMultisampleTypes(const std::set<D3DMULTISAMPLE_TYPE>& types) {
    Locked([&](State& state) {
        state.configuration.multisampleTypes.assign(types.begin(), types.end());
    });
}

void SetDeviceState(HRESULT code) {
    Locked([&](State& state) {
        for (internal::DeviceStateSink* device : state.liveDevices) device->SetState(code);
    });
}

void LoseDevices() {
    SetDeviceState(D3DERR_DEVICELOST);
}

void FailNextCall(const std::string& operation, HRESULT code, int times) {
    if (times == 0) return;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.failures[operation].push_back(InjectedFailure{code, times});
}

void FailWindowClassRegistration(bool fail) {
    Locked([&](State& state) { state.failClassRegistration = fail; });
}

size_t LiveObjects() {
    return Locked([&](State& state) { return state.liveObjects.size(); });
}

std::string DescribeLiveObjects() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::vector<std::string> lines;
    for (const auto& [object, description] : state.liveObjects) {
        std::ostringstream line;
        line << description << " at " << object;
        lines.push_back(line.str());
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

size_t CallCount(const std::string& operation) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = state.callCounts.find(operation);
    return found == state.callCounts.end() ? 0 : found->second;
}

std::vector<DeviceRecord> CreatedDevices() {
    return Locked([&](State& state) { return state.devices; });
}

std::vector<RenderTargetRecord> CreatedRenderTargets() {
    return Locked([&](State& state) { return state.renderTargets; });
}

std::vector<TextureRecord> CreatedTextures() {
    return Locked([&](State& state) { return state.textures; });
}

HMONITOR AdapterMonitor(UINT adapter) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (adapter >= state.configuration.monitors.size()) return nullptr;
    return internal::MonitorHandle(adapter);
}

bool WindowClassRegistered() {
    return internal::WindowClassRegistered();
}

size_t LiveWindows() {
    return internal::WindowCount();
}

std::vector<uint32_t> ReadPixels(IDirect3DSurface9* surface, UINT* width, UINT* height) {
    return internal::CopySurfacePixels(surface, width, height);
}

}  // namespace kesto::soft_d3d9
