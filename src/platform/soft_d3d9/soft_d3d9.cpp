// The software Direct3D 9 objects: the Direct3D object, devices, surfaces, textures and vertex
// buffers. Pixels live in CPU memory (4 bytes a pixel, pitch = width · 4); drawing is done by
// rasterizer.cpp.
//
// Reference counting follows the real runtime, which surprises in two ways:
// - every resource holds a reference on its device while the application holds the resource,
//   and the device one on its Direct3D object, so a device's Release returns non-zero until its
//   resources are gone;
// - binding a resource (SetRenderTarget, SetTexture, SetStreamSource) does not show in the
//   count that AddRef/Release return, yet keeps the resource's memory alive: a texture released
//   while still set on a stage goes away only when it is unbound or the device goes.
// Each object therefore counts application references (public) and all holders (total), and is
// destroyed when the total reaches zero.
//
// Devices behave as if made with D3DCREATE_MULTITHREADED whatever the flags: every call on a
// device or its resources takes the device's lock, as the real runtime does with that flag.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/soft_d3d9/rasterizer.h"
#include "platform/soft_d3d9/soft_d3d9_internal.h"

namespace kesto::soft_d3d9 {
namespace {

using internal::EnterCall;

constexpr UINT kMaxSurfaceSize = 16384;
constexpr UINT kMaxTextureSize = 8192;
constexpr DWORD kTextureStages = 8;

bool IsColorFormat(D3DFORMAT format) {
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8;
}
bool IsPowerOfTwo(UINT value) {
    return value != 0 && (value & (value - 1)) == 0;
}

std::string Describe(const char* kind, UINT width, UINT height, D3DFORMAT format) {
    std::ostringstream text;
    text << kind << " " << width << "x" << height << " format " << static_cast<int>(format);
    return text.str();
}

// Reference counts shared by every object (see the top of the file).
template <class Interface>
class Object : public Interface {
  public:
    ULONG STDMETHODCALLTYPE AddRef() override {
        total_.fetch_add(1);
        const ULONG count = publicRefs_.fetch_add(1) + 1;
        if (count == 1) OnPublicRevived();
        return count;
    }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG previous = publicRefs_.fetch_sub(1);
        if (previous == 0) {
            // Real COM objects would be freed memory by now; fail loudly instead of corrupting.
            std::fprintf(stderr, "soft_d3d9: Release of an object with no references\n");
            std::abort();
        }
        if (previous == 1) OnPublicReleased();
        DropTotal();
        return previous - 1;
    }

    virtual void AddBinding() { total_.fetch_add(1); }
    virtual void RemoveBinding() { DropTotal(); }

  protected:
    // `publicCount` 0 makes an object that only its owner holds (a device's implicit surface).
    Object(std::string description, ULONG publicCount) : publicRefs_(publicCount) {
        if (!description.empty()) {
            registered_ = true;
            if (internal::Control* control = internal::AttachedControl())
                control->RegisterObject(this, std::move(description));
        }
    }
    ~Object() override {
        internal::Control* control = internal::AttachedControl();
        if (registered_ && control != nullptr) control->UnregisterObject(this);
    }

    virtual void OnPublicReleased() {}
    virtual void OnPublicRevived() {}

    void DropTotal() {
        if (total_.fetch_sub(1) == 1) delete this;
    }

  private:
    std::atomic<ULONG> publicRefs_;
    std::atomic<ULONG> total_{1};
    bool registered_ = false;
};

class Device;
class Texture;

template <class Interface>
HRESULT ReturnInterface(Interface* object, void** out) {
    object->AddRef();
    *out = object;
    return S_OK;
}

class Direct3D final : public Object<IDirect3D9Ex> {
  public:
    explicit Direct3D(bool extended)
        : Object(extended ? "IDirect3D9Ex" : "IDirect3D9", 1),
          extended_(extended),
          monitors_(internal::CurrentConfiguration().monitors) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (HRESULT failure = EnterCall("IDirect3D9", "QueryInterface"); FAILED(failure)) {
            if (out != nullptr) *out = nullptr;
            return failure;
        }
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirect3D9)
            return ReturnInterface<IDirect3D9>(this, out);
        if (riid == IID_IDirect3D9Ex && extended_) return ReturnInterface<IDirect3D9Ex>(this, out);
        return E_NOINTERFACE;
    }

    UINT STDMETHODCALLTYPE GetAdapterCount() override {
        if (FAILED(EnterCall("IDirect3D9", "GetAdapterCount"))) return 0;
        return static_cast<UINT>(monitors_.size());
    }

    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT adapter, DWORD,
                                                   D3DADAPTER_IDENTIFIER9* identifier) override {
        if (HRESULT failure = EnterCall("IDirect3D9", "GetAdapterIdentifier"); FAILED(failure))
            return failure;
        if (adapter >= monitors_.size() || identifier == nullptr) return D3DERR_INVALIDCALL;
        *identifier = D3DADAPTER_IDENTIFIER9{};
        std::snprintf(identifier->Driver, sizeof identifier->Driver, "soft_d3d9");
        std::snprintf(identifier->Description, sizeof identifier->Description,
                      "Software Direct3D 9 adapter %u", adapter);
        std::snprintf(identifier->DeviceName, sizeof identifier->DeviceName, "\\\\.\\DISPLAY%u",
                      adapter + 1);
        return S_OK;
    }

    // Windowed rendering only needs the back-buffer format to be one the adapter can draw into.
    HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT adapter, D3DDEVTYPE deviceType,
                                              D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                                              BOOL) override {
        if (HRESULT failure = EnterCall("IDirect3D9", "CheckDeviceType"); FAILED(failure))
            return failure;
        if (adapter >= monitors_.size()) return D3DERR_INVALIDCALL;
        if (deviceType != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
        if (displayFormat != D3DFMT_X8R8G8B8 || !IsColorFormat(backBufferFormat))
            return D3DERR_NOTAVAILABLE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType,
                                                D3DFORMAT adapterFormat, DWORD usage,
                                                D3DRESOURCETYPE resourceType,
                                                D3DFORMAT checkFormat) override {
        if (HRESULT failure = EnterCall("IDirect3D9", "CheckDeviceFormat"); FAILED(failure))
            return failure;
        if (adapter >= monitors_.size()) return D3DERR_INVALIDCALL;
        if (deviceType != D3DDEVTYPE_HAL || adapterFormat != D3DFMT_X8R8G8B8)
            return D3DERR_NOTAVAILABLE;
        if (resourceType != D3DRTYPE_SURFACE && resourceType != D3DRTYPE_TEXTURE)
            return D3DERR_NOTAVAILABLE;
        if (!IsColorFormat(checkFormat)) return D3DERR_NOTAVAILABLE;
        const DWORD supported = D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC;
        if ((usage & ~supported) != 0) return D3DERR_NOTAVAILABLE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType,
                                                         D3DFORMAT surfaceFormat, BOOL,
                                                         D3DMULTISAMPLE_TYPE type,
                                                         DWORD* qualityLevels) override {
        if (HRESULT failure = EnterCall("IDirect3D9", "CheckDeviceMultiSampleType");
            FAILED(failure))
            return failure;
        if (qualityLevels != nullptr) *qualityLevels = 0;
        if (adapter >= monitors_.size()) return D3DERR_INVALIDCALL;
        if (deviceType != D3DDEVTYPE_HAL || !IsColorFormat(surfaceFormat))
            return D3DERR_NOTAVAILABLE;
        if (!MultisampleSupported(type)) return D3DERR_NOTAVAILABLE;
        if (qualityLevels != nullptr) *qualityLevels = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType,
                                            D3DCAPS9* caps) override {
        if (HRESULT failure = EnterCall("IDirect3D9", "GetDeviceCaps"); FAILED(failure))
            return failure;
        if (adapter >= monitors_.size() || caps == nullptr) return D3DERR_INVALIDCALL;
        if (deviceType != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
        internal::FillCaps(internal::CurrentConfiguration(), adapter, caps);
        return S_OK;
    }

    HMONITOR STDMETHODCALLTYPE GetAdapterMonitor(UINT adapter) override {
        if (FAILED(EnterCall("IDirect3D9", "GetAdapterMonitor"))) return nullptr;
        return adapter < monitors_.size() ? internal::MonitorHandle(adapter) : nullptr;
    }

    HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow,
                                           DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                                           IDirect3DDevice9** device) override;

    HRESULT STDMETHODCALLTYPE CreateDeviceEx(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow,
                                             DWORD flags, D3DPRESENT_PARAMETERS* parameters,
                                             D3DDISPLAYMODEEX* mode,
                                             IDirect3DDevice9Ex** device) override;

    static bool MultisampleSupported(D3DMULTISAMPLE_TYPE type) {
        if (type == D3DMULTISAMPLE_NONE) return true;
        const auto supported = internal::CurrentConfiguration().multisampleTypes;
        return std::find(supported.begin(), supported.end(), type) != supported.end();
    }

  private:
    HRESULT ValidateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD flags,
                           const D3DPRESENT_PARAMETERS* parameters) const;
    Device* MakeDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD flags,
                       const D3DPRESENT_PARAMETERS& parameters, bool extended, bool hadMode);

    const bool extended_;
    const std::vector<RECT> monitors_;  // adapters are fixed for the life of the object
};

// A surface: standalone (render target, offscreen plain, a device's implicit back buffer) or
// one level of a texture, whose reference counts are the texture's.
class Surface final : public Object<IDirect3DSurface9> {
  public:
    struct Shape {
        UINT width;
        UINT height;
        D3DFORMAT format;
        D3DPOOL pool;
        DWORD usage;
        D3DMULTISAMPLE_TYPE multiSample;
        DWORD multisampleQuality;
        bool lockable;
    };

    Surface(Device* device, Texture* container, const Shape& shape, std::string description,
            ULONG publicCount)
        : Object(std::move(description), publicCount),
          device_(device),
          container_(container),
          shape_(shape),
          pixels_(static_cast<size_t>(shape.width) * shape.height,
                  shape.format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u) {}
    ~Surface() override = default;

    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    void AddBinding() override;
    void RemoveBinding() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (HRESULT failure = EnterCall("IDirect3DSurface9", "QueryInterface"); FAILED(failure)) {
            if (out != nullptr) *out = nullptr;
            return failure;
        }
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 ||
            riid == IID_IDirect3DSurface9) {
            return ReturnInterface<IDirect3DSurface9>(this, out);
        }
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT STDMETHODCALLTYPE GetContainer(REFIID riid, void** container) override;

    HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC* desc) override {
        if (HRESULT failure = EnterCall("IDirect3DSurface9", "GetDesc"); FAILED(failure))
            return failure;
        if (desc == nullptr) return D3DERR_INVALIDCALL;
        *desc = Desc();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT* locked, const RECT* rect,
                                       DWORD flags) override {
        if (HRESULT failure = EnterCall("IDirect3DSurface9", "LockRect"); FAILED(failure))
            return failure;
        return Lock(locked, rect, flags);
    }

    HRESULT STDMETHODCALLTYPE UnlockRect() override {
        if (HRESULT failure = EnterCall("IDirect3DSurface9", "UnlockRect"); FAILED(failure))
            return failure;
        return Unlock();
    }

    D3DSURFACE_DESC Desc() const {
        D3DSURFACE_DESC desc{};
        desc.Format = shape_.format;
        desc.Type = D3DRTYPE_SURFACE;
        desc.Usage = shape_.usage;
        desc.Pool = shape_.pool;
        desc.MultiSampleType = shape_.multiSample;
        desc.MultiSampleQuality = shape_.multisampleQuality;
        desc.Width = shape_.width;
        desc.Height = shape_.height;
        return desc;
    }

    HRESULT Lock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
    HRESULT Unlock();

    Device* device() const { return device_; }
    const Shape& shape() const { return shape_; }
    std::vector<uint32_t>& pixels() { return pixels_; }
    bool locked() const { return locked_; }

    internal::PixelTarget AsTarget() {
        return internal::PixelTarget{
            pixels_.data(), static_cast<int>(shape_.width), static_cast<int>(shape_.height),
            static_cast<int>(shape_.width), shape_.format == D3DFMT_A8R8G8B8};
    }

  protected:
    void OnPublicReleased() override;
    void OnPublicRevived() override;

  private:
    Device* const device_;
    Texture* const container_;
    const Shape shape_;
    std::vector<uint32_t> pixels_;  // guarded by the device's lock
    bool locked_ = false;           // guarded by the device's lock
};

class Texture final : public Object<IDirect3DTexture9> {
  public:
    Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
            D3DPOOL pool)
        : Object(Describe("texture", width, height, format), 1),
          device_(device),
          usage_(usage),
          pool_(pool) {
        // Default-pool textures are video memory: only dynamic ones can be locked.
        const bool lockable = pool != D3DPOOL_DEFAULT || (usage & D3DUSAGE_DYNAMIC) != 0;
        for (UINT level = 0; level < levels; ++level) {
            const Surface::Shape shape{std::max(1u, width >> level),
                                       std::max(1u, height >> level),
                                       format,
                                       pool,
                                       usage,
                                       D3DMULTISAMPLE_NONE,
                                       0,
                                       lockable};
            levels_.push_back(std::make_unique<Surface>(device, this, shape, std::string(), 1));
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (HRESULT failure = EnterCall("IDirect3DTexture9", "QueryInterface"); FAILED(failure)) {
            if (out != nullptr) *out = nullptr;
            return failure;
        }
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 ||
            riid == IID_IDirect3DBaseTexture9 || riid == IID_IDirect3DTexture9) {
            return ReturnInterface<IDirect3DTexture9>(this, out);
        }
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD STDMETHODCALLTYPE GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }

    HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        if (HRESULT failure = EnterCall("IDirect3DTexture9", "GetLevelDesc"); FAILED(failure))
            return failure;
        if (level >= levels_.size() || desc == nullptr) return D3DERR_INVALIDCALL;
        *desc = levels_[level]->Desc();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override {
        if (HRESULT failure = EnterCall("IDirect3DTexture9", "GetSurfaceLevel"); FAILED(failure)) {
            if (surface != nullptr) *surface = nullptr;
            return failure;
        }
        if (surface == nullptr) return D3DERR_INVALIDCALL;
        *surface = nullptr;
        if (level >= levels_.size()) return D3DERR_INVALIDCALL;
        levels_[level]->AddRef();
        *surface = levels_[level].get();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                       DWORD flags) override {
        if (HRESULT failure = EnterCall("IDirect3DTexture9", "LockRect"); FAILED(failure))
            return failure;
        if (level >= levels_.size()) return D3DERR_INVALIDCALL;
        return levels_[level]->Lock(locked, rect, flags);
    }

    HRESULT STDMETHODCALLTYPE UnlockRect(UINT level) override {
        if (HRESULT failure = EnterCall("IDirect3DTexture9", "UnlockRect"); FAILED(failure))
            return failure;
        if (level >= levels_.size()) return D3DERR_INVALIDCALL;
        return levels_[level]->Unlock();
    }

    Device* device() const { return device_; }
    Surface& level(UINT index) { return *levels_[index]; }
    // The forwarding surfaces use these to act on the texture's own counts.
    ULONG ObjectAddRef() { return Object::AddRef(); }
    ULONG ObjectRelease() { return Object::Release(); }

  protected:
    void OnPublicReleased() override;
    void OnPublicRevived() override;

  private:
    Device* const device_;
    const DWORD usage_;
    const D3DPOOL pool_;
    std::vector<std::unique_ptr<Surface>> levels_;
};

class VertexBuffer final : public Object<IDirect3DVertexBuffer9> {
  public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
        : Object("vertex buffer of " + std::to_string(length) + " bytes", 1),
          device_(device),
          usage_(usage),
          fvf_(fvf),
          pool_(pool),
          data_(length) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (HRESULT failure = EnterCall("IDirect3DVertexBuffer9", "QueryInterface");
            FAILED(failure)) {
            if (out != nullptr) *out = nullptr;
            return failure;
        }
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 ||
            riid == IID_IDirect3DVertexBuffer9) {
            return ReturnInterface<IDirect3DVertexBuffer9>(this, out);
        }
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Unlock() override;

    HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* desc) override {
        if (desc == nullptr) return D3DERR_INVALIDCALL;
        desc->Format = D3DFMT_VERTEXDATA;
        desc->Type = D3DRTYPE_VERTEXBUFFER;
        desc->Usage = usage_;
        desc->Pool = pool_;
        desc->Size = static_cast<UINT>(data_.size());
        desc->FVF = fvf_;
        return S_OK;
    }

    Device* device() const { return device_; }
    const std::vector<uint8_t>& data() const { return data_; }

  protected:
    void OnPublicReleased() override;
    void OnPublicRevived() override;

  private:
    Device* const device_;
    const DWORD usage_;
    const DWORD fvf_;
    const D3DPOOL pool_;
    std::vector<uint8_t> data_;  // guarded by the device's lock
    int lockCount_ = 0;          // vertex buffers may be locked more than once at a time
};

// Where the parts of one vertex lie, from the flexible vertex format.
struct VertexLayout {
    bool valid = false;
    bool pretransformed = false;  // D3DFVF_XYZRHW
    int diffuse = -1;             // byte offsets, -1 when absent
    int texCoord = -1;
    UINT size = 0;
};

VertexLayout LayoutOf(DWORD fvf) {
    VertexLayout layout;
    UINT offset = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ:
            offset = 12;
            break;
        case D3DFVF_XYZRHW:
            offset = 16;
            layout.pretransformed = true;
            break;
        default:
            return layout;  // blend weights and the rest are not drawn by this implementation
    }
    if (fvf & D3DFVF_NORMAL) offset += 12;
    if (fvf & D3DFVF_PSIZE) offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        layout.diffuse = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) offset += 4;
    const UINT texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > 8) return layout;
    for (UINT set = 0; set < texCount; ++set) {
        if (set == 0) layout.texCoord = static_cast<int>(offset);
        // D3DFVF_TEXCOORDSIZEn: 0 = two floats, 1 = three, 2 = four, 3 = one.
        static constexpr UINT kFloats[4] = {2, 3, 4, 1};
        offset += 4 * kFloats[(fvf >> (16 + 2 * set)) & 3];
    }
    layout.size = offset;
    layout.valid = true;
    return layout;
}

float ReadFloat(const uint8_t* bytes) {
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

DWORD ReadDword(const uint8_t* bytes) {
    DWORD value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

struct Matrix64 {
    double m[4][4];
};

Matrix64 ToDouble(const D3DMATRIX& source) {
    Matrix64 result;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) result.m[row][column] = source.m[row][column];
    }
    return result;
}

Matrix64 Multiply(const Matrix64& a, const Matrix64& b) {
    Matrix64 result;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            result.m[row][column] = a.m[row][0] * b.m[0][column] + a.m[row][1] * b.m[1][column] +
                                    a.m[row][2] * b.m[2][column] + a.m[row][3] * b.m[3][column];
        }
    }
    return result;
}

D3DMATRIX IdentityMatrix() {
    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
    return identity;
}

class Device final : public Object<IDirect3DDevice9Ex>, public internal::DeviceStateSink {
  public:
    Device(Direct3D* d3d, UINT adapter, DWORD flags, const D3DPRESENT_PARAMETERS& parameters,
           bool extended)
        : Object(extended ? "IDirect3DDevice9Ex" : "IDirect3DDevice9", 1),
          d3d_(d3d),
          adapter_(adapter),
          flags_(flags),
          extended_(extended) {
        d3d_->AddRef();
        // The implicit swap chain's back buffer is render target 0 until the application sets
        // its own. Lockable only with D3DPRESENTFLAG_LOCKABLE_BACKBUFFER (1).
        const Surface::Shape shape{std::max(1u, parameters.BackBufferWidth),
                                   std::max(1u, parameters.BackBufferHeight),
                                   IsColorFormat(parameters.BackBufferFormat)
                                       ? parameters.BackBufferFormat
                                       : D3DFMT_X8R8G8B8,
                                   D3DPOOL_DEFAULT,
                                   D3DUSAGE_RENDERTARGET,
                                   parameters.MultiSampleType,
                                   parameters.MultiSampleQuality,
                                   (parameters.Flags & 1) != 0};
        backBuffer_ = new Surface(this, nullptr, shape, std::string(), 0);
        backBuffer_->AddBinding();
        renderTarget_ = backBuffer_;
        renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
        renderStates_[D3DRS_LIGHTING] = TRUE;
        renderStates_[D3DRS_ZENABLE] = parameters.EnableAutoDepthStencil ? 1 : 0;
        if (internal::Control* control = internal::AttachedControl()) control->RegisterDevice(this);
    }

    ~Device() override {
        if (internal::Control* control = internal::AttachedControl())
            control->UnregisterDevice(this);
        d3d_->Release();
    }

    void SetState(HRESULT code) override { state_.store(code); }
    std::recursive_mutex& mutex() { return mutex_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "QueryInterface"); FAILED(failure)) {
            if (out != nullptr) *out = nullptr;
            return failure;
        }
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirect3DDevice9)
            return ReturnInterface<IDirect3DDevice9>(this, out);
        if (riid == IID_IDirect3DDevice9Ex && extended_)
            return ReturnInterface<IDirect3DDevice9Ex>(this, out);
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "TestCooperativeLevel");
            FAILED(failure))
            return failure;
        const HRESULT state = state_.load();
        return FAILED(state) ? state : S_OK;
    }

    HRESULT STDMETHODCALLTYPE CheckDeviceState(HWND) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9Ex", "CheckDeviceState"); FAILED(failure))
            return failure;
        return state_.load();
    }

    HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9** d3d) override {
        if (d3d == nullptr) return D3DERR_INVALIDCALL;
        d3d_->AddRef();
        *d3d = d3d_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9* caps) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "GetDeviceCaps"); FAILED(failure))
            return failure;
        if (caps == nullptr) return D3DERR_INVALIDCALL;
        internal::FillCaps(internal::CurrentConfiguration(), adapter_, caps);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                            D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DTexture9** texture, HANDLE* shared) override {
        if (texture != nullptr) *texture = nullptr;
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "CreateTexture"); FAILED(failure))
            return failure;
        if (texture == nullptr || width == 0 || height == 0 || width > kMaxTextureSize ||
            height > kMaxTextureSize) {
            return D3DERR_INVALIDCALL;
        }
        if (!IsColorFormat(format)) return D3DERR_INVALIDCALL;
        if (shared != nullptr && !extended_) return D3DERR_INVALIDCALL;
        const internal::Configuration configuration = internal::CurrentConfiguration();
        if ((usage & D3DUSAGE_DYNAMIC) != 0 &&
            (pool == D3DPOOL_MANAGED || !configuration.dynamicTextures)) {
            return D3DERR_INVALIDCALL;
        }
        if ((usage & D3DUSAGE_RENDERTARGET) != 0 && pool != D3DPOOL_DEFAULT)
            return D3DERR_INVALIDCALL;
        if (configuration.pow2Textures && (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)))
            return D3DERR_INVALIDCALL;
        UINT fullChain = 1;
        while ((std::max(width, height) >> fullChain) != 0) ++fullChain;
        if (levels > fullChain) return D3DERR_INVALIDCALL;
        if (levels == 0) levels = fullChain;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        *texture = new Texture(this, width, height, levels, usage, format, pool);
        AddRef();
        if (internal::Control* control = internal::AttachedControl())
            control->RecordTexture(TextureRecord{width, height, levels, usage, format, pool});
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer,
                                                 HANDLE* shared) override {
        if (buffer != nullptr) *buffer = nullptr;
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "CreateVertexBuffer"); FAILED(failure))
            return failure;
        if (buffer == nullptr || length == 0) return D3DERR_INVALIDCALL;
        if (shared != nullptr && !extended_) return D3DERR_INVALIDCALL;
        if (fvf != 0) {
            const VertexLayout layout = LayoutOf(fvf);
            if (!layout.valid || length < layout.size) return D3DERR_INVALIDCALL;
        }
        *buffer = new VertexBuffer(this, length, usage, fvf, pool);
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                                 D3DMULTISAMPLE_TYPE multiSample, DWORD quality,
                                                 BOOL lockable, IDirect3DSurface9** surface,
                                                 HANDLE* shared) override {
        if (surface != nullptr) *surface = nullptr;
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "CreateRenderTarget"); FAILED(failure))
            return failure;
        if (surface == nullptr || width == 0 || height == 0 || width > kMaxSurfaceSize ||
            height > kMaxSurfaceSize) {
            return D3DERR_INVALIDCALL;
        }
        if (!IsColorFormat(format)) return D3DERR_INVALIDCALL;
        if (shared != nullptr && !extended_) return D3DERR_INVALIDCALL;
        // Multisampled targets are accepted (one quality level each) but drawn without
        // antialiasing: each pixel is covered or not at its centre.
        if (!Direct3D::MultisampleSupported(multiSample) || quality != 0) return D3DERR_INVALIDCALL;
        // Shared handles are not supported; the handle stays as given, as under Wine.
        const Surface::Shape shape{
            width,       height,  format,           D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET,
            multiSample, quality, lockable != FALSE};
        *surface =
            new Surface(this, nullptr, shape, Describe("render target", width, height, format), 1);
        AddRef();
        if (internal::Control* control = internal::AttachedControl())
            control->RecordRenderTarget(RenderTargetRecord{width, height, format, multiSample,
                                                           quality, lockable, shared != nullptr});
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetRenderTargetData(IDirect3DSurface9* renderTarget,
                                                  IDirect3DSurface9* destination) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "GetRenderTargetData"); FAILED(failure))
            return failure;
        Surface* source = OwnSurface(renderTarget);
        Surface* target = OwnSurface(destination);
        if (source == nullptr || target == nullptr) return D3DERR_INVALIDCALL;
        const Surface::Shape& from = source->shape();
        const Surface::Shape& to = target->shape();
        // The copy goes from video memory to system memory only, between surfaces of one size
        // and format, and not from a multisampled target (those need a resolve first).
        if ((from.usage & D3DUSAGE_RENDERTARGET) == 0 || from.multiSample != D3DMULTISAMPLE_NONE ||
            to.pool != D3DPOOL_SYSTEMMEM || from.width != to.width || from.height != to.height ||
            from.format != to.format) {
            return D3DERR_INVALIDCALL;
        }
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (target->locked()) return D3DERR_INVALIDCALL;
        target->pixels() = source->pixels();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ColorFill(IDirect3DSurface9* surface, const RECT* rect,
                                        D3DCOLOR color) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "ColorFill"); FAILED(failure))
            return failure;
        Surface* target = OwnSurface(surface);
        if (target == nullptr || target->shape().pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        const internal::PixelTarget pixels = target->AsTarget();
        const RECT whole{0, 0, pixels.width, pixels.height};
        const RECT& area = rect != nullptr ? *rect : whole;
        internal::FillRect(pixels, area.left, area.top, area.right, area.bottom,
                           TargetColor(*target, color));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format,
                                                          D3DPOOL pool, IDirect3DSurface9** surface,
                                                          HANDLE* shared) override {
        if (surface != nullptr) *surface = nullptr;
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "CreateOffscreenPlainSurface");
            FAILED(failure)) {
            return failure;
        }
        if (surface == nullptr || width == 0 || height == 0 || width > kMaxSurfaceSize ||
            height > kMaxSurfaceSize) {
            return D3DERR_INVALIDCALL;
        }
        if (!IsColorFormat(format) || pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
        if (shared != nullptr && !extended_) return D3DERR_INVALIDCALL;
        const Surface::Shape shape{width, height, format, pool, 0, D3DMULTISAMPLE_NONE, 0, true};
        *surface = new Surface(this, nullptr, shape,
                               Describe("offscreen surface", width, height, format), 1);
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetRenderTarget(DWORD index,
                                              IDirect3DSurface9* renderTarget) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "SetRenderTarget"); FAILED(failure))
            return failure;
        // One simultaneous render target (NumSimultaneousRTs), and slot 0 may not be emptied.
        Surface* surface = OwnSurface(renderTarget);
        if (index != 0 || surface == nullptr ||
            (surface->shape().usage & D3DUSAGE_RENDERTARGET) == 0) {
            return D3DERR_INVALIDCALL;
        }
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        // Setting a render target also resets the viewport to the whole of it; the viewport here
        // is always the whole render target.
        Rebind(renderTarget_, surface);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetRenderTarget(DWORD index,
                                              IDirect3DSurface9** renderTarget) override {
        if (renderTarget != nullptr) *renderTarget = nullptr;
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "GetRenderTarget"); FAILED(failure))
            return failure;
        if (renderTarget == nullptr || index != 0) return D3DERR_INVALIDCALL;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        renderTarget_->AddRef();
        *renderTarget = renderTarget_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE BeginScene() override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "BeginScene"); FAILED(failure))
            return failure;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (inScene_) return D3DERR_INVALIDCALL;
        inScene_ = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EndScene() override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "EndScene"); FAILED(failure))
            return failure;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (!inScene_) return D3DERR_INVALIDCALL;
        inScene_ = false;
        return S_OK;
    }

    // Clear works inside or outside a scene. There is no depth or stencil buffer, and asking to
    // clear one fails as it does on a device without one.
    HRESULT STDMETHODCALLTYPE Clear(DWORD rectCount, const D3DRECT* rects, DWORD flags,
                                    D3DCOLOR color, float, DWORD) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "Clear"); FAILED(failure))
            return failure;
        if ((rectCount != 0 && rects == nullptr) ||
            (flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0) {
            return D3DERR_INVALIDCALL;
        }
        if ((flags & D3DCLEAR_TARGET) == 0) return S_OK;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        const internal::PixelTarget target = renderTarget_->AsTarget();
        const uint32_t value = TargetColor(*renderTarget_, color);
        if (rectCount == 0) {
            internal::FillRect(target, 0, 0, target.width, target.height, value);
        }
        for (DWORD i = 0; i < rectCount; ++i) {
            internal::FillRect(target, rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2, value);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state,
                                           const D3DMATRIX* matrix) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "SetTransform"); FAILED(failure))
            return failure;
        if (matrix == nullptr) return D3DERR_INVALIDCALL;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        transforms_[state] = *matrix;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state,
                                           D3DMATRIX* matrix) override {
        if (matrix == nullptr) return D3DERR_INVALIDCALL;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        *matrix = Transform(state);
        return S_OK;
    }

    // Stored and reported back for every state; drawing honours D3DRS_CULLMODE and
    // D3DRS_LIGHTING only (the others keep their default effect: no blending, no depth test).
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "SetRenderState"); FAILED(failure))
            return failure;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        renderStates_[state] = value;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
        if (value == nullptr) return D3DERR_INVALIDCALL;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        auto found = renderStates_.find(state);
        *value = found == renderStates_.end() ? 0 : found->second;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex,
                                            UINT primitiveCount) override;

    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "SetFVF"); FAILED(failure))
            return failure;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        fvf_ = fvf;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override {
        if (fvf == nullptr) return D3DERR_INVALIDCALL;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        *fvf = fvf_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9* data,
                                              UINT offset, UINT stride) override {
        if (HRESULT failure = EnterCall("IDirect3DDevice9", "SetStreamSource"); FAILED(failure))
            return failure;
        auto* buffer = dynamic_cast<VertexBuffer*>(data);
        if (stream != 0 || (data != nullptr && (buffer == nullptr || buffer->device() != this))) {
            return D3DERR_INVALIDCALL;
        }
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        Rebind(stream_, buffer);
        streamOffset_ = offset;
        streamStride_ = stride;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamSource(UINT stream, IDirect3DVertexBuffer9** data,
                                              UINT* offset, UINT* stride) override {
        if (stream != 0 || data == nullptr || offset == nullptr || stride == nullptr)
            return D3DERR_INVALIDCALL;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (stream_ != nullptr) stream_->AddRef();
        *data = stream_;
        *offset = streamOffset_;
        *stride = streamStride_;
        return S_OK;
    }

    // The surface behind an interface pointer when it is one of this device's.
    Surface* OwnSurface(IDirect3DSurface9* surface) {
        auto* own = dynamic_cast<Surface*>(surface);
        return own != nullptr && own->device() == this ? own : nullptr;
    }

  protected:
    // The last application reference is gone, so no resource of the device is held either:
    // what is still bound goes now, the implicit back buffer with it.
    void OnPublicReleased() override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        Rebind<Surface>(renderTarget_, nullptr);
        for (Texture*& texture : textures_) Rebind<Texture>(texture, nullptr);
        Rebind<VertexBuffer>(stream_, nullptr);
        backBuffer_->RemoveBinding();
        backBuffer_ = nullptr;
    }

  private:
    template <class Resource>
    static void Rebind(Resource*& slot, Resource* resource) {
        if (resource != nullptr) resource->AddBinding();
        if (slot != nullptr) slot->RemoveBinding();
        slot = resource;
    }

    static uint32_t TargetColor(const Surface& surface, D3DCOLOR color) {
        // The unused byte of an X8R8G8B8 pixel reads back as 0xFF.
        return surface.shape().format == D3DFMT_X8R8G8B8 ? (color | 0xFF000000u) : color;
    }

    D3DMATRIX Transform(D3DTRANSFORMSTATETYPE state) const {
        auto found = transforms_.find(state);
        return found == transforms_.end() ? IdentityMatrix() : found->second;
    }

    DWORD RenderState(D3DRENDERSTATETYPE state) const {
        auto found = renderStates_.find(state);
        return found == renderStates_.end() ? 0 : found->second;
    }

    Direct3D* const d3d_;
    const UINT adapter_;
    const DWORD flags_;
    const bool extended_;
    std::atomic<HRESULT> state_{S_OK};

    std::recursive_mutex mutex_;
    // -- guarded by mutex_
    Surface* backBuffer_ = nullptr;    // owned
    Surface* renderTarget_ = nullptr;  // bound
    std::array<Texture*, kTextureStages> textures_{};
    VertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT streamStride_ = 0;
    DWORD fvf_ = 0;
    bool inScene_ = false;
    std::map<int, D3DMATRIX> transforms_;
    std::map<int, DWORD> renderStates_;
};

// ---------------------------------------------------------------------------------------------
// Out-of-line members that need the device.

ULONG Surface::AddRef() {
    if (container_ != nullptr) return container_->ObjectAddRef();
    return Object::AddRef();
}

ULONG Surface::Release() {
    if (container_ != nullptr) return container_->ObjectRelease();
    return Object::Release();
}

void Surface::AddBinding() {
    if (container_ != nullptr) {
        container_->AddBinding();
    } else {
        Object::AddBinding();
    }
}

void Surface::RemoveBinding() {
    if (container_ != nullptr) {
        container_->RemoveBinding();
    } else {
        Object::RemoveBinding();
    }
}

void Surface::OnPublicReleased() {
    device_->Release();
}
void Surface::OnPublicRevived() {
    device_->AddRef();
}
void Texture::OnPublicReleased() {
    device_->Release();
}
void Texture::OnPublicRevived() {
    device_->AddRef();
}
void VertexBuffer::OnPublicReleased() {
    device_->Release();
}
void VertexBuffer::OnPublicRevived() {
    device_->AddRef();
}

HRESULT Surface::GetDevice(IDirect3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return S_OK;
}

HRESULT Surface::GetContainer(REFIID riid, void** container) {
    if (container == nullptr) return D3DERR_INVALIDCALL;
    if (container_ != nullptr) return container_->QueryInterface(riid, container);
    return device_->QueryInterface(riid, container);
}

HRESULT Surface::Lock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
    if (locked == nullptr) return D3DERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(device_->mutex());
    // Render targets made without the lockable flag (and default-pool textures that are not
    // dynamic) cannot be locked at all; readback goes through GetRenderTargetData.
    if (!shape_.lockable || locked_) return D3DERR_INVALIDCALL;
    RECT area{0, 0, static_cast<LONG>(shape_.width), static_cast<LONG>(shape_.height)};
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right ||
            rect->top >= rect->bottom || rect->right > area.right || rect->bottom > area.bottom) {
            return D3DERR_INVALIDCALL;
        }
        area = *rect;
    }
    locked->Pitch = static_cast<INT>(shape_.width * 4);
    locked->pBits = pixels_.data() + static_cast<size_t>(area.top) * shape_.width + area.left;
    locked_ = true;
    return S_OK;
}

HRESULT Surface::Unlock() {
    std::lock_guard<std::recursive_mutex> lock(device_->mutex());
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return S_OK;
}

HRESULT Texture::GetDevice(IDirect3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return S_OK;
}

HRESULT VertexBuffer::GetDevice(IDirect3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return S_OK;
}

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD) {
    if (data != nullptr) *data = nullptr;
    if (HRESULT failure = EnterCall("IDirect3DVertexBuffer9", "Lock"); FAILED(failure))
        return failure;
    if (data == nullptr) return D3DERR_INVALIDCALL;
    // Offset and size both 0 lock the whole buffer.
    if (offset > data_.size() || (size != 0 && size > data_.size() - offset))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(device_->mutex());
    ++lockCount_;
    *data = data_.data() + offset;
    return S_OK;
}

HRESULT VertexBuffer::Unlock() {
    if (HRESULT failure = EnterCall("IDirect3DVertexBuffer9", "Unlock"); FAILED(failure))
        return failure;
    std::lock_guard<std::recursive_mutex> lock(device_->mutex());
    if (lockCount_ == 0) return D3DERR_INVALIDCALL;
    --lockCount_;
    return S_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (texture == nullptr || stage >= kTextureStages) return D3DERR_INVALIDCALL;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (textures_[stage] != nullptr) textures_[stage]->AddRef();
    *texture = textures_[stage];
    return S_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (HRESULT failure = EnterCall("IDirect3DDevice9", "SetTexture"); FAILED(failure))
        return failure;
    auto* own = dynamic_cast<Texture*>(texture);
    if (stage >= kTextureStages ||
        (texture != nullptr && (own == nullptr || own->device() != this))) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Rebind(textures_[stage], own);
    return S_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (HRESULT failure = EnterCall("IDirect3DDevice9", "DrawPrimitive"); FAILED(failure))
        return failure;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!inScene_ || stream_ == nullptr) return D3DERR_INVALIDCALL;
    uint64_t vertexCount = 0;
    switch (type) {
        case D3DPT_TRIANGLELIST:
            vertexCount = 3ull * primitiveCount;
            break;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            vertexCount = primitiveCount + 2ull;
            break;
        case D3DPT_POINTLIST:
        case D3DPT_LINELIST:
        case D3DPT_LINESTRIP:
            return E_NOTIMPL;  // points and lines are never drawn by the display
        default:
            return D3DERR_INVALIDCALL;
    }
    if (primitiveCount == 0) return S_OK;
    const VertexLayout layout = LayoutOf(fvf_);
    if (!layout.valid || streamStride_ < layout.size) return D3DERR_INVALIDCALL;
    const std::vector<uint8_t>& bytes = stream_->data();
    const uint64_t end =
        streamOffset_ + (startVertex + vertexCount - 1) * streamStride_ + layout.size;
    if (end > bytes.size()) return D3DERR_INVALIDCALL;

    // Fixed-function lighting with no lights, the default material and ambient 0 gives black;
    // only the diffuse alpha survives (D3DRS_COLORVERTEX takes it from the vertex).
    const bool lit = !layout.pretransformed && RenderState(D3DRS_LIGHTING) != FALSE;
    const Matrix64 transform =
        Multiply(Multiply(ToDouble(Transform(D3DTS_WORLD)), ToDouble(Transform(D3DTS_VIEW))),
                 ToDouble(Transform(D3DTS_PROJECTION)));

    std::vector<internal::ClipVertex> clip;
    std::vector<internal::ScreenSpaceVertex> screen;
    for (uint64_t i = 0; i < vertexCount; ++i) {
        const uint8_t* vertex = bytes.data() + streamOffset_ + (startVertex + i) * streamStride_;
        const double x = ReadFloat(vertex), y = ReadFloat(vertex + 4), z = ReadFloat(vertex + 8);
        const DWORD color = layout.diffuse >= 0 ? ReadDword(vertex + layout.diffuse) : 0xFFFFFFFFu;
        const double a = color >> 24;
        const double r = lit ? 0.0 : (color >> 16) & 0xFF;
        const double g = lit ? 0.0 : (color >> 8) & 0xFF;
        const double b = lit ? 0.0 : color & 0xFF;
        const double u = layout.texCoord >= 0 ? ReadFloat(vertex + layout.texCoord) : 0.0;
        const double v = layout.texCoord >= 0 ? ReadFloat(vertex + layout.texCoord + 4) : 0.0;
        if (layout.pretransformed) {
            screen.push_back(
                internal::ScreenSpaceVertex{x, y, z, ReadFloat(vertex + 12), u, v, a, r, g, b});
        } else {
            const double(*m)[4] = transform.m;
            clip.push_back(internal::ClipVertex{x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0],
                                                x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1],
                                                x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2],
                                                x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3],
                                                u, v, a, r, g, b});
        }
    }

    internal::CullMode cull = internal::CullMode::CounterClockwise;
    switch (RenderState(D3DRS_CULLMODE)) {
        case D3DCULL_NONE:
            cull = internal::CullMode::None;
            break;
        case D3DCULL_CW:
            cull = internal::CullMode::Clockwise;
            break;
        default:
            break;
    }
    const internal::PixelTarget target = renderTarget_->AsTarget();
    internal::TextureSource source;
    if (textures_[0] != nullptr) {
        // No mipmap filter by default (D3DSAMP_MIPFILTER = NONE): level 0 only.
        Surface& level = textures_[0]->level(0);
        source.texels = level.pixels().data();
        source.width = static_cast<int>(level.shape().width);
        source.height = static_cast<int>(level.shape().height);
        source.pitch = source.width;
        source.hasAlpha = level.shape().format == D3DFMT_A8R8G8B8;
    }
    auto draw = [&](uint64_t i0, uint64_t i1, uint64_t i2) {
        if (layout.pretransformed) {
            internal::DrawScreenSpaceTriangle(target, source, cull, screen[i0], screen[i1],
                                              screen[i2]);
        } else {
            internal::DrawClipSpaceTriangle(target, source, cull, clip[i0], clip[i1], clip[i2]);
        }
    };
    for (uint64_t p = 0; p < primitiveCount; ++p) {
        switch (type) {
            case D3DPT_TRIANGLELIST:
                draw(3 * p, 3 * p + 1, 3 * p + 2);
                break;
            // Odd triangles of a strip are taken in swapped order so that all keep the winding
            // of the first.
            case D3DPT_TRIANGLESTRIP:
                if (p % 2 == 0) {
                    draw(p, p + 1, p + 2);
                } else {
                    draw(p + 1, p, p + 2);
                }
                break;
            default:
                draw(0, p + 1, p + 2);
                break;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Device creation.

HRESULT Direct3D::ValidateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD flags,
                                 const D3DPRESENT_PARAMETERS* parameters) const {
    if (adapter >= monitors_.size() || parameters == nullptr) return D3DERR_INVALIDCALL;
    if (deviceType != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    // Exactly one kind of vertex processing must be asked for.
    const DWORD processing =
        flags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                 D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing == 0 || !IsPowerOfTwo(processing)) return D3DERR_INVALIDCALL;
    if ((flags & (D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING)) != 0 &&
        !internal::CurrentConfiguration().hardwareTransform) {
        return D3DERR_INVALIDCALL;
    }
    // A windowed device needs a window: the device window, or else the focus window.
    if (parameters->Windowed && parameters->hDeviceWindow == nullptr && focusWindow == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    if (parameters->BackBufferFormat != D3DFMT_UNKNOWN &&
        !IsColorFormat(parameters->BackBufferFormat)) {
        return D3DERR_INVALIDCALL;
    }
    return S_OK;
}

Device* Direct3D::MakeDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD flags,
                             const D3DPRESENT_PARAMETERS& parameters, bool extended, bool hadMode) {
    auto* device = new Device(this, adapter, flags, parameters, extended);
    DeviceRecord record;
    record.adapter = adapter;
    record.deviceType = deviceType;
    record.focusWindow = focusWindow;
    record.behaviorFlags = flags;
    record.extended = extended;
    record.hadFullscreenMode = hadMode;
    record.parameters = parameters;
    if (internal::Control* control = internal::AttachedControl()) control->RecordDevice(record);
    return device;
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD flags,
                               D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) {
    if (device != nullptr) *device = nullptr;
    if (HRESULT failure = EnterCall("IDirect3D9", "CreateDevice"); FAILED(failure)) return failure;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    if (HRESULT invalid = ValidateDevice(adapter, deviceType, focusWindow, flags, parameters);
        FAILED(invalid)) {
        return invalid;
    }
    // Devices made through CreateDevice are plain ones even on the extended object.
    *device = MakeDevice(adapter, deviceType, focusWindow, flags, *parameters, false, false);
    return S_OK;
}

HRESULT Direct3D::CreateDeviceEx(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD flags,
                                 D3DPRESENT_PARAMETERS* parameters, D3DDISPLAYMODEEX* mode,
                                 IDirect3DDevice9Ex** device) {
    if (device != nullptr) *device = nullptr;
    if (HRESULT failure = EnterCall("IDirect3D9Ex", "CreateDeviceEx"); FAILED(failure))
        return failure;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    if (HRESULT invalid = ValidateDevice(adapter, deviceType, focusWindow, flags, parameters);
        FAILED(invalid)) {
        return invalid;
    }
    // The full-screen display mode must be given exactly when the device is full-screen.
    if ((mode != nullptr) != (parameters->Windowed == FALSE)) return D3DERR_INVALIDCALL;
    *device =
        MakeDevice(adapter, deviceType, focusWindow, flags, *parameters, true, mode != nullptr);
    return S_OK;
}

}  // namespace

namespace internal {

std::atomic<Control*> attachedControl{nullptr};

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

// The one focus window class and the windows made of it: made and destroyed with the
// display, by one thread at a time (the display's lock), read by tests.
namespace {
std::atomic<bool> classRegistered{false};
std::atomic<size_t> windowCount{0};
std::atomic<uintptr_t> nextWindow{0x10010};
}  // namespace

// RegisterClassW refuses a class that already exists (ERROR_CLASS_ALREADY_EXISTS), so a
// second registration without UnregisterClassW fails here too.
bool RegisterWindowClass() {
    return SUCCEEDED(EnterCall("Win32", "RegisterClass")) && !classRegistered.exchange(true);
}

bool UnregisterWindowClass() {
    return classRegistered.exchange(false);
}

HWND CreateWindow() {
    if (FAILED(EnterCall("Win32", "CreateWindow")) || !classRegistered) return nullptr;
    ++windowCount;
    return reinterpret_cast<HWND>(nextWindow.fetch_add(0x10));
}

void DestroyWindow(HWND window) {
    if (window != nullptr) --windowCount;
}

bool WindowClassRegistered() {
    return classRegistered;
}

size_t WindowCount() {
    return windowCount;
}

std::vector<uint32_t> CopySurfacePixels(IDirect3DSurface9* surface, UINT* width, UINT* height) {
    auto* own = dynamic_cast<Surface*>(surface);
    if (own == nullptr) return {};
    std::lock_guard<std::recursive_mutex> lock(own->device()->mutex());
    if (width != nullptr) *width = own->shape().width;
    if (height != nullptr) *height = own->shape().height;
    return own->pixels();
}

}  // namespace internal
}  // namespace kesto::soft_d3d9

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
    using namespace kesto::soft_d3d9;
    if (FAILED(internal::EnterCall("Direct3D", "Direct3DCreate9"))) return nullptr;
    // The high bit asks for the debug runtime and is otherwise ignored.
    if ((sdkVersion & 0x7FFFFFFFu) != D3D_SDK_VERSION) return nullptr;
    return new Direct3D(false);
}

HRESULT WINAPI Direct3DCreate9Ex(UINT sdkVersion, IDirect3D9Ex** d3d9ex) {
    using namespace kesto::soft_d3d9;
    if (d3d9ex != nullptr) *d3d9ex = nullptr;
    if (HRESULT failure = internal::EnterCall("Direct3D", "Direct3DCreate9Ex"); FAILED(failure))
        return failure;
    if (!internal::CurrentConfiguration().extendedAvailable) return D3DERR_NOTAVAILABLE;
    if (d3d9ex == nullptr) return D3DERR_INVALIDCALL;
    if ((sdkVersion & 0x7FFFFFFFu) != D3D_SDK_VERSION) return D3DERR_NOTAVAILABLE;
    *d3d9ex = new Direct3D(true);
    return S_OK;
}
