// Process-wide state of the software Direct3D 9: the switches tests set, injected failures,
// call counts, creation records, the live-object registry and the simulated windows.
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

internal::Configuration DefaultConfiguration() {
    internal::Configuration configuration;
    configuration.monitors = {RECT{0, 0, 1920, 1080}};
    configuration.multisampleTypes = {D3DMULTISAMPLE_2_SAMPLES, D3DMULTISAMPLE_4_SAMPLES};
    return configuration;
}

// Everything below is guarded by `mutex`. No call leaves this file with the mutex held, so
// objects may call in from any thread and from inside their own locks.
struct State {
    std::mutex mutex;
    internal::Configuration configuration = DefaultConfiguration();
    bool failClassRegistration = false;
    // Looked up by string_view (std::less<>), so that a call that is counted or checked for an
    // injected failure allocates nothing once its name is known: the soft device sits under
    // every frame upload, which must not allocate.
    std::map<std::string, std::vector<InjectedFailure>, std::less<>> failures;
    std::map<std::string, size_t, std::less<>> callCounts;
    std::vector<DeviceRecord> devices;
    std::vector<RenderTargetRecord> renderTargets;
    std::vector<TextureRecord> textures;
    std::unordered_map<const void*, std::string> liveObjects;
    std::set<internal::DeviceStateSink*> liveDevices;
    bool classRegistered = false;
    std::set<HWND> windows;
    uintptr_t nextWindow = 0x10010;
};

// Made on first use and kept past static destruction, since objects may outlive it; see
// StateRelease for when it goes.
State*& StatePointer() {
    static State* state = new State{};
    return state;
}

State& GetState() {
    State*& state = StatePointer();
    if (state == nullptr) state = new State{};  // only after StateRelease
    return *state;
}

// With the library's globals (the host unloads the library, or exits): the state is freed
// unless a Direct3D object or a window still needs it, as when the host never released its
// display. Kept for ever, it would be memory nothing points to once the library is unmapped.
struct StateRelease {
    StateRelease() = default;
    ~StateRelease() {
        State*& state = StatePointer();
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (!state->liveObjects.empty() || !state->windows.empty()) return;
        }
        delete state;
        state = nullptr;
    }
    StateRelease(const StateRelease&) = delete;
    StateRelease& operator=(const StateRelease&) = delete;
} stateRelease;

// Takes one injected failure for `name`, if any; the mutex is held by the caller.
bool TakeFailure(State& state, std::string_view name, HRESULT* code) {
    auto found = state.failures.find(name);
    if (found == state.failures.end() || found->second.empty()) return false;
    InjectedFailure& failure = found->second.front();
    *code = failure.code;
    if (failure.remaining > 0 && --failure.remaining == 0)
        found->second.erase(found->second.begin());
    return true;
}

}  // namespace

void Reset() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.configuration = DefaultConfiguration();
    state.failClassRegistration = false;
    state.failures.clear();
    state.callCounts.clear();
    state.devices.clear();
    state.renderTargets.clear();
    state.textures.clear();
    state.classRegistered = false;
}

void SetAdapterMonitors(const std::vector<RECT>& monitors) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.configuration.monitors = monitors;
}

void SetExtendedAvailable(bool available) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.configuration.extendedAvailable = available;
}

void SetCaps(bool hardwareTransform, bool dynamicTextures, bool pow2Textures) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.configuration.hardwareTransform = hardwareTransform;
    state.configuration.dynamicTextures = dynamicTextures;
    state.configuration.pow2Textures = pow2Textures;
}

void SetSupportedMultisampleTypes(const std::set<D3DMULTISAMPLE_TYPE>& types) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.configuration.multisampleTypes.assign(types.begin(), types.end());
}

void SetDeviceState(HRESULT code) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (internal::DeviceStateSink* device : state.liveDevices) device->SetState(code);
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
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.failClassRegistration = fail;
}

size_t LiveObjects() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.liveObjects.size();
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
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.devices;
}

std::vector<RenderTargetRecord> CreatedRenderTargets() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.renderTargets;
}

std::vector<TextureRecord> CreatedTextures() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.textures;
}

HMONITOR AdapterMonitor(UINT adapter) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (adapter >= state.configuration.monitors.size()) return nullptr;
    return internal::MonitorHandle(adapter);
}

bool WindowClassRegistered() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.classRegistered;
}

size_t LiveWindows() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.windows.size();
}

std::vector<uint32_t> ReadPixels(IDirect3DSurface9* surface, UINT* width, UINT* height) {
    return internal::CopySurfacePixels(surface, width, height);
}

namespace internal {

HRESULT EnterCall(const char* interfaceName, const char* method) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    char buffer[128];
    const int length = std::snprintf(buffer, sizeof buffer, "%s::%s", interfaceName, method);
    const std::string_view qualified(
        buffer, static_cast<size_t>(std::clamp(length, 0, int(sizeof buffer) - 1)));
    auto count = [&state](std::string_view name) {
        auto found = state.callCounts.find(name);
        if (found == state.callCounts.end()) {
            found = state.callCounts.emplace(std::string(name), 0).first;
        }
        ++found->second;
    };
    count(qualified);
    count(method);
    HRESULT code = S_OK;
    if (TakeFailure(state, qualified, &code) || TakeFailure(state, method, &code)) return code;
    return S_OK;
}

Configuration CurrentConfiguration() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.configuration;
}

void FillCaps(const Configuration& configuration, UINT adapter, D3DCAPS9* caps) {
    *caps = D3DCAPS9{};
    caps->DeviceType = D3DDEVTYPE_HAL;
    caps->AdapterOrdinal = adapter;
    caps->Caps2 = configuration.dynamicTextures ? D3DCAPS2_DYNAMICTEXTURES : 0;
    caps->DevCaps = configuration.hardwareTransform ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0;
    caps->TextureCaps =
        D3DPTEXTURECAPS_PERSPECTIVE | (configuration.pow2Textures ? D3DPTEXTURECAPS_POW2 : 0);
    caps->MaxTextureWidth = caps->MaxTextureHeight = 8192;
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureBlendStages = caps->MaxSimultaneousTextures = 1;
    caps->MaxPrimitiveCount = 0xFFFFF;
    caps->MaxVertexIndex = 0xFFFFFF;
    caps->MaxStreams = 1;
    caps->MaxStreamStride = 255;
    caps->MasterAdapterOrdinal = adapter;
    caps->NumberOfAdaptersInGroup = 1;
    caps->NumSimultaneousRTs = 1;
}

HMONITOR MonitorHandle(UINT index) {
    return reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x4D000 + 0x10 * index));
}

void RegisterObject(const void* object, std::string description) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.liveObjects[object] = std::move(description);
}

void UnregisterObject(const void* object) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.liveObjects.erase(object);
}

void RegisterDevice(DeviceStateSink* device) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.liveDevices.insert(device);
}

void UnregisterDevice(DeviceStateSink* device) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.liveDevices.erase(device);
}

void RecordDevice(const DeviceRecord& record) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.devices.push_back(record);
}

void RecordRenderTarget(const RenderTargetRecord& record) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.renderTargets.push_back(record);
}

void RecordTexture(const TextureRecord& record) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.textures.push_back(record);
}

// RegisterClassW refuses a class that already exists (ERROR_CLASS_ALREADY_EXISTS), so a
// second registration without UnregisterClassW fails here too.
bool RegisterWindowClass() {
    if (FAILED(EnterCall("Win32", "RegisterClass"))) return false;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.failClassRegistration || state.classRegistered) return false;
    state.classRegistered = true;
    return true;
}

bool UnregisterWindowClass() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const bool wasRegistered = state.classRegistered;
    state.classRegistered = false;
    return wasRegistered;
}

HWND CreateWindow() {
    if (FAILED(EnterCall("Win32", "CreateWindow"))) return nullptr;
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.classRegistered) return nullptr;
    HWND window = reinterpret_cast<HWND>(state.nextWindow);
    state.nextWindow += 0x10;
    state.windows.insert(window);
    return window;
}

bool DestroyWindow(HWND window) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.windows.erase(window) != 0;
}

}  // namespace internal
}  // namespace kesto::soft_d3d9
