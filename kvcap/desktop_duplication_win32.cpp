#include "kvcap/desktop_duplication_win32.h"

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi1_2.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "image/image_flip.h"
#include "kvcap/desktop_cursor_win32.h"
#include "kvcap/duplication_policy.h"
#include "kvcap/kvcap_api.h"
#include "kvcap/window_bounds_win32.h"
#include "platform/debug_print.h"
#include "platform/system_library_win32.h"

// Each frame: the duplicated desktop image is copied into a texture with a mip chain, drawn
// upright into a target of the session's size by one full-screen triangle (trilinear
// sampling, so large desktops shrink without losing thin lines), the cursor is drawn over it
// through GDI, and the target is read back through a staging texture.

namespace {

using Microsoft::WRL::ComPtr;

constexpr UINT kFirstFrameTimeoutMs = 500;
constexpr int kTargetBytesPerPixel = 4;

constexpr char kScaleShader[] = R"(
Texture2D desktop : register(t0);
SamplerState trilinear : register(s0);
cbuffer Upright : register(b0) { float3 sRow; float3 tRow; };
struct Vertex { float4 position : SV_Position; float2 uv : TEXCOORD0; };
Vertex CoverTarget(uint id : SV_VertexID) {
    Vertex vertex;
    vertex.uv = float2((id << 1) & 2, id & 2);
    vertex.position = float4(vertex.uv * float2(2, -2) + float2(-1, 1), 0, 1);
    return vertex;
}
float4 SampleDesktop(Vertex vertex) : SV_Target {
    float3 uv1 = float3(vertex.uv, 1);
    return float4(desktop.Sample(trilinear, float2(dot(sRow, uv1), dot(tRow, uv1))).rgb, 1);
}
)";

// The shader's constant buffer: each float3 row takes a register of four floats.
struct UprightConstants {
    float sRow[4];
    float tRow[4];
};

using D3DCompileFunction = HRESULT(WINAPI*)(LPCVOID, SIZE_T, LPCSTR, const D3D_SHADER_MACRO*,
                                            ID3DInclude*, LPCSTR, LPCSTR, UINT, UINT, ID3DBlob**,
                                            ID3DBlob**);

// The shader compiler is loaded only when duplication works, and only while a device is
// built: a system without it falls back to GDI instead of failing to start. It comes from
// System32 only, never from the program's folder or the current one.
bool CompileScaleShaders(ID3D11Device* device, ComPtr<ID3D11VertexShader>* vertexShader,
                         ComPtr<ID3D11PixelShader>* pixelShader) {
    HMODULE compiler = LoadLibraryExW(L"d3dcompiler_47.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (compiler == nullptr) {
        DebugPrint(" kvcap: d3dcompiler_47.dll not found\n");
        return false;
    }
    auto compile = reinterpret_cast<D3DCompileFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(compiler, "D3DCompile")));
    bool ok = false;
    if (compile != nullptr) {
        ComPtr<ID3DBlob> vertexCode, pixelCode;
        ok = SUCCEEDED(compile(kScaleShader, sizeof kScaleShader - 1, "scale", nullptr, nullptr,
                               "CoverTarget", "vs_4_0", 0, 0, &vertexCode, nullptr)) &&
             SUCCEEDED(compile(kScaleShader, sizeof kScaleShader - 1, "scale", nullptr, nullptr,
                               "SampleDesktop", "ps_4_0", 0, 0, &pixelCode, nullptr)) &&
             SUCCEEDED(device->CreateVertexShader(vertexCode->GetBufferPointer(),
                                                  vertexCode->GetBufferSize(), nullptr,
                                                  vertexShader->ReleaseAndGetAddressOf())) &&
             SUCCEEDED(device->CreatePixelShader(pixelCode->GetBufferPointer(),
                                                 pixelCode->GetBufferSize(), nullptr,
                                                 pixelShader->ReleaseAndGetAddressOf()));
    }
    FreeLibrary(compiler);
    if (!ok) {
        DebugPrint(" kvcap: scaling shaders fail\n");
    }
    return ok;
}

// Resolved from System32 when a session opens, not imported (see system_library_win32.h).
using CreateDxgiFactory1Function = HRESULT(WINAPI*)(REFIID, void**);
using D3D11CreateDeviceFunction = decltype(&D3D11CreateDevice);

// Every output of every adapter, with the adapter it hangs on.
struct ListedOutput {
    DuplicationOutput place;
    ComPtr<IDXGIAdapter1> adapter;
    ComPtr<IDXGIOutput> output;
};

std::vector<ListedOutput> ListOutputs(IDXGIFactory1* factory) {
    std::vector<ListedOutput> listed;
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT a = 0; factory->EnumAdapters1(a, &adapter) != DXGI_ERROR_NOT_FOUND; ++a) {
        ComPtr<IDXGIOutput> output;
        for (UINT o = 0; adapter->EnumOutputs(o, &output) != DXGI_ERROR_NOT_FOUND; ++o) {
            DXGI_OUTPUT_DESC desc{};
            if (SUCCEEDED(output->GetDesc(&desc))) {
                listed.push_back(
                    {{a, o, reinterpret_cast<uintptr_t>(desc.Monitor)}, adapter, output});
            }
        }
    }
    return listed;
}

class DuplicationSource : public CaptureSource {
  public:
    explicit DuplicationSource(const CaptureGeometry& geometry)
        : m_geometry(geometry), m_windowFit(geometry.width, geometry.height, geometry.flip) {}

    bool Open();
    int Grab(uint8_t* bgr) override;

  private:
    bool BuildDevice();
    bool CreateTargets();
    // Duplicates the output; false with the failure kept in `*hr`.
    bool Duplicate(HRESULT* hr);
    // Notes a failure of `call` and drops what it asks to; the frame fails.
    int Fail(const char* call, HRESULT hr);
    bool TakeDesktopImage(IDXGIResource* resource);
    void DrawScaled();
    void DrawCursor();
    int ReadBack(uint8_t* bgr);
    // One window: its part of the desktop image copied out and fitted on the CPU.
    int ReadWindow(uint8_t* bgr);

    CaptureGeometry m_geometry;
    ComPtr<ID3D11Device> m_device;
    ComPtr<ID3D11DeviceContext> m_context;
    ComPtr<IDXGIOutput1> m_output;
    ComPtr<IDXGIOutputDuplication> m_duplication;
    RECT m_screen{};  // the output's area in desktop coordinates
    ComPtr<ID3D11VertexShader> m_vertexShader;
    ComPtr<ID3D11PixelShader> m_pixelShader;
    ComPtr<ID3D11SamplerState> m_sampler;
    ComPtr<ID3D11Buffer> m_upright;     // UprightConstants for the output's rotation
    ComPtr<ID3D11Texture2D> m_desktop;  // the latest desktop image, with its mip chain
    ComPtr<ID3D11ShaderResourceView> m_desktopView;
    ComPtr<ID3D11Texture2D> m_target;  // session size, GDI-compatible for the cursor
    ComPtr<ID3D11RenderTargetView> m_targetView;
    ComPtr<ID3D11Texture2D> m_staging;
    WindowScaler m_windowFit;
    ComPtr<ID3D11Texture2D> m_cutStaging;  // the desktop image's size, read back
    bool m_rotated = false;                // the output's image is not upright
    bool m_rotatedWindowTraced = false;
    bool m_pointerVisible = true;  // as the last pointer update said
    bool m_deviceLost = false;     // the device and all made on it are to be built again
    DuplicationRecovery m_recovery;
};

// The device on the adapter that drives the primary monitor, and everything made on it.
bool DuplicationSource::BuildDevice() {
    m_duplication.Reset();
    m_desktopView.Reset();
    m_desktop.Reset();
    auto createFactory =
        SystemFunctionAs<CreateDxgiFactory1Function>(L"dxgi.dll", "CreateDXGIFactory1");
    auto createDevice =
        SystemFunctionAs<D3D11CreateDeviceFunction>(L"d3d11.dll", "D3D11CreateDevice");
    if (createFactory == nullptr || createDevice == nullptr) {
        DebugPrint(" kvcap: no Direct3D 11 in System32\n");
        return false;
    }
    ComPtr<IDXGIFactory1> factory;
    HRESULT hr = createFactory(IID_PPV_ARGS(&factory));
    if (FAILED(hr)) {
        DebugPrint(" kvcap: CreateDXGIFactory1 fail, hr = 0x%08lx\n", hr);
        return false;
    }
    std::vector<ListedOutput> listed = ListOutputs(factory.Get());
    std::vector<DuplicationOutput> places;
    for (const ListedOutput& entry : listed) {
        places.push_back(entry.place);
    }
    HMONITOR primary = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    std::optional<DuplicationOutput> chosen =
        ChooseOutput(places, reinterpret_cast<uintptr_t>(primary));
    if (!chosen) {
        DebugPrint(" kvcap: no output of %u shows the primary monitor\n",
                   static_cast<unsigned>(listed.size()));
        return false;
    }
    const ListedOutput* entry = nullptr;
    for (const ListedOutput& candidate : listed) {
        if (candidate.place.adapter == chosen->adapter &&
            candidate.place.output == chosen->output) {
            entry = &candidate;
        }
    }
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0};
    // With an adapter given, the driver type must be UNKNOWN.
    hr = createDevice(entry->adapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr,
                      D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels, ARRAYSIZE(levels),
                      D3D11_SDK_VERSION, m_device.ReleaseAndGetAddressOf(), nullptr,
                      m_context.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        DebugPrint(" kvcap: D3D11CreateDevice fail, hr = 0x%08lx\n", hr);
        return false;
    }
    hr = entry->output.As(&m_output);
    if (FAILED(hr)) {
        DebugPrint(" kvcap: IDXGIOutput1 fail, hr = 0x%08lx\n", hr);
        return false;
    }
    DXGI_OUTPUT_DESC outputDesc{};
    m_output->GetDesc(&outputDesc);
    m_screen = outputDesc.DesktopCoordinates;
    DebugPrint(" kvcap: duplicating output %u of adapter %u\n", chosen->output, chosen->adapter);
    bool built =
        CompileScaleShaders(m_device.Get(), &m_vertexShader, &m_pixelShader) && CreateTargets();
    m_deviceLost = !built;
    return built;
}

bool DuplicationSource::CreateTargets() {
    D3D11_SAMPLER_DESC samplerDesc{};
    samplerDesc.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    samplerDesc.AddressU = samplerDesc.AddressV = samplerDesc.AddressW =
        D3D11_TEXTURE_ADDRESS_CLAMP;
    samplerDesc.MaxLOD = D3D11_FLOAT32_MAX;

    D3D11_BUFFER_DESC uprightDesc{};
    uprightDesc.ByteWidth = sizeof(UprightConstants);
    uprightDesc.Usage = D3D11_USAGE_DEFAULT;
    uprightDesc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;

    D3D11_TEXTURE2D_DESC targetDesc{};
    targetDesc.Width = static_cast<UINT>(m_geometry.width);
    targetDesc.Height = static_cast<UINT>(m_geometry.height);
    targetDesc.MipLevels = 1;
    targetDesc.ArraySize = 1;
    targetDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    targetDesc.SampleDesc.Count = 1;
    targetDesc.Usage = D3D11_USAGE_DEFAULT;
    targetDesc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    targetDesc.MiscFlags = D3D11_RESOURCE_MISC_GDI_COMPATIBLE;

    D3D11_TEXTURE2D_DESC stagingDesc = targetDesc;
    stagingDesc.Usage = D3D11_USAGE_STAGING;
    stagingDesc.BindFlags = 0;
    stagingDesc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    stagingDesc.MiscFlags = 0;

    bool ok = SUCCEEDED(m_device->CreateSamplerState(&samplerDesc, &m_sampler)) &&
              SUCCEEDED(m_device->CreateBuffer(&uprightDesc, nullptr, &m_upright)) &&
              SUCCEEDED(m_device->CreateTexture2D(&targetDesc, nullptr, &m_target)) &&
              SUCCEEDED(m_device->CreateRenderTargetView(m_target.Get(), nullptr, &m_targetView)) &&
              SUCCEEDED(m_device->CreateTexture2D(&stagingDesc, nullptr, &m_staging));
    if (!ok) {
        DebugPrint(" kvcap: scaling targets fail\n");
    }
    return ok;
}

bool DuplicationSource::Duplicate(HRESULT* hr) {
    *hr = m_output->DuplicateOutput(m_device.Get(), m_duplication.ReleaseAndGetAddressOf());
    if (FAILED(*hr)) {
        return false;
    }
    // A rotated monitor's image comes in its own scan-out orientation: sample it upright.
    DXGI_OUTDUPL_DESC desc{};
    m_duplication->GetDesc(&desc);
    ImageMapping map = UprightMapping(static_cast<OutputRotation>(desc.Rotation));
    m_rotated = desc.Rotation != DXGI_MODE_ROTATION_UNSPECIFIED &&
                desc.Rotation != DXGI_MODE_ROTATION_IDENTITY;
    UprightConstants constants = {{map.su, map.sv, map.s0, 0}, {map.tu, map.tv, map.t0, 0}};
    m_context->UpdateSubresource(m_upright.Get(), 0, nullptr, &constants, 0, 0);
    return true;
}

bool DuplicationSource::Open() {
    if (!BuildDevice()) {
        return false;
    }
    HRESULT hr = S_OK;
    if (Duplicate(&hr)) {
        return true;
    }
    // A lock screen, a prompt, another session or a desktop mode it does not serve at the
    // start: the source waits for the desktop to come back. Anything else means duplication
    // cannot work here.
    if (ClassifyDuplicationFailure(hr) == DuplicationFailure::Waiting) {
        Fail("DuplicateOutput", hr);
        return true;
    }
    DebugPrint(" kvcap: DuplicateOutput fail, hr = 0x%08lx\n", hr);
    return false;
}

int DuplicationSource::Fail(const char* call, HRESULT hr) {
    if (m_recovery.Failed(hr, DuplicationRecovery::Clock::now())) {
        DebugPrint(" kvcap: %s fail, hr = 0x%08lx\n", call, hr);
    }
    switch (ClassifyDuplicationFailure(hr)) {
        case DuplicationFailure::DeviceLost:
            m_deviceLost = true;
            [[fallthrough]];
        case DuplicationFailure::AccessLost:
        case DuplicationFailure::Waiting:
            m_duplication.Reset();
            break;
    }
    return KVCAP_E_CAPTURE_FAILED;
}

bool DuplicationSource::TakeDesktopImage(IDXGIResource* resource) {
    ComPtr<ID3D11Texture2D> acquired;
    if (FAILED(resource->QueryInterface(IID_PPV_ARGS(&acquired)))) {
        return false;
    }
    D3D11_TEXTURE2D_DESC acquiredDesc;
    acquired->GetDesc(&acquiredDesc);
    D3D11_TEXTURE2D_DESC desktopDesc{};
    if (m_desktop) {
        m_desktop->GetDesc(&desktopDesc);
    }
    if (!m_desktop || desktopDesc.Width != acquiredDesc.Width ||
        desktopDesc.Height != acquiredDesc.Height) {
        desktopDesc = {};
        desktopDesc.Width = acquiredDesc.Width;
        desktopDesc.Height = acquiredDesc.Height;
        desktopDesc.MipLevels = 0;  // the whole chain
        desktopDesc.ArraySize = 1;
        desktopDesc.Format = acquiredDesc.Format;
        desktopDesc.SampleDesc.Count = 1;
        desktopDesc.Usage = D3D11_USAGE_DEFAULT;
        desktopDesc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
        desktopDesc.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
        m_desktopView.Reset();
        m_desktop.Reset();
        if (FAILED(m_device->CreateTexture2D(&desktopDesc, nullptr, &m_desktop)) ||
            FAILED(m_device->CreateShaderResourceView(m_desktop.Get(), nullptr, &m_desktopView))) {
            m_desktop.Reset();
            return false;
        }
    }
    m_context->CopySubresourceRegion(m_desktop.Get(), 0, 0, 0, 0, acquired.Get(), 0, nullptr);
    m_context->GenerateMips(m_desktopView.Get());
    return true;
}

void DuplicationSource::DrawScaled() {
    D3D11_VIEWPORT viewport{};
    viewport.Width = static_cast<float>(m_geometry.width);
    viewport.Height = static_cast<float>(m_geometry.height);
    viewport.MaxDepth = 1.0f;
    m_context->OMSetRenderTargets(1, m_targetView.GetAddressOf(), nullptr);
    m_context->RSSetViewports(1, &viewport);
    m_context->IASetInputLayout(nullptr);
    m_context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    m_context->VSSetShader(m_vertexShader.Get(), nullptr, 0);
    m_context->PSSetShader(m_pixelShader.Get(), nullptr, 0);
    m_context->PSSetShaderResources(0, 1, m_desktopView.GetAddressOf());
    m_context->PSSetSamplers(0, 1, m_sampler.GetAddressOf());
    m_context->PSSetConstantBuffers(0, 1, m_upright.GetAddressOf());
    m_context->Draw(3, 0);
    // Unbound again: GDI may only touch the target, and mips only be made, when unbound.
    ID3D11RenderTargetView* noTarget = nullptr;
    ID3D11ShaderResourceView* noView = nullptr;
    m_context->OMSetRenderTargets(1, &noTarget, nullptr);
    m_context->PSSetShaderResources(0, 1, &noView);
}

void DuplicationSource::DrawCursor() {
    ComPtr<IDXGISurface1> surface;
    HDC dc = nullptr;
    if (SUCCEEDED(m_target.As(&surface)) && SUCCEEDED(surface->GetDC(FALSE, &dc))) {
        DrawCursorScaled(dc, m_screen, m_geometry.width, m_geometry.height);
        surface->ReleaseDC(nullptr);
    }
}

int DuplicationSource::ReadBack(uint8_t* bgr) {
    m_context->CopyResource(m_staging.Get(), m_target.Get());
    D3D11_MAPPED_SUBRESOURCE mapped;
    HRESULT hr = m_context->Map(m_staging.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(hr)) {
        return Fail("Map", hr);  // a removed device shows here first
    }
    // Mirrored as it is copied: each row to its flipped place, its pixels in either direction.
    const size_t rowBytes = static_cast<size_t>(m_geometry.width) * 3;
    const bool mirrorRows = (m_geometry.flip & FLIP_VERTICAL) != 0;
    const bool mirrorPixels = (m_geometry.flip & FLIP_HORIZONTAL) != 0;
    const ptrdiff_t step = mirrorPixels ? -3 : 3;
    for (int y = 0; y < m_geometry.height; ++y) {
        const uint8_t* in = static_cast<const uint8_t*>(mapped.pData) + y * mapped.RowPitch;
        uint8_t* out = bgr + (mirrorRows ? m_geometry.height - 1 - y : y) * rowBytes +
                       (mirrorPixels ? rowBytes - 3 : 0);
        for (int x = 0; x < m_geometry.width; ++x, in += kTargetBytesPerPixel, out += step) {
            std::memcpy(out, in, 3);
        }
    }
    m_context->Unmap(m_staging.Get(), 0);
    return KVCAP_OK;
}

int DuplicationSource::ReadWindow(uint8_t* bgr) {
    if (m_rotated) {
        // Its image would have to be cut in its scan-out orientation, which is not done: the
        // wall stays black rather than show a wrong part of the desktop.
        if (!m_rotatedWindowTraced) {
            DebugPrint(" kvcap: one window on a rotated monitor is not shown\n");
            m_rotatedWindowTraced = true;
        }
        std::memset(bgr, 0, static_cast<size_t>(m_geometry.width) * m_geometry.height * 3);
        return KVCAP_OK;
    }
    const std::optional<PixelRect> bounds = WindowBoundsOnDesktop(m_geometry.window);
    if (!bounds) {
        return KVCAP_E_WINDOW_GONE;
    }
    const PixelRect onOutput{bounds->x - m_screen.left, bounds->y - m_screen.top, bounds->width,
                             bounds->height};
    if (!m_windowFit.Place(m_screen.right - m_screen.left, m_screen.bottom - m_screen.top,
                           onOutput)) {
        m_windowFit.PaintBars(bgr);  // nothing of it on this monitor
        return KVCAP_OK;
    }
    D3D11_TEXTURE2D_DESC desktopDesc;
    m_desktop->GetDesc(&desktopDesc);
    D3D11_TEXTURE2D_DESC stagingDesc{};
    if (m_cutStaging) {
        m_cutStaging->GetDesc(&stagingDesc);
    }
    if (!m_cutStaging || stagingDesc.Width != desktopDesc.Width ||
        stagingDesc.Height != desktopDesc.Height) {
        stagingDesc = {};
        stagingDesc.Width = desktopDesc.Width;
        stagingDesc.Height = desktopDesc.Height;
        stagingDesc.MipLevels = 1;
        stagingDesc.ArraySize = 1;
        stagingDesc.Format = desktopDesc.Format;
        stagingDesc.SampleDesc.Count = 1;
        stagingDesc.Usage = D3D11_USAGE_STAGING;
        stagingDesc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        HRESULT hr =
            m_device->CreateTexture2D(&stagingDesc, nullptr, m_cutStaging.ReleaseAndGetAddressOf());
        if (FAILED(hr)) {
            return Fail("CreateTexture2D", hr);
        }
    }
    const PixelRect& cut = m_windowFit.Fit().cut;
    const D3D11_BOX box{static_cast<UINT>(cut.x),
                        static_cast<UINT>(cut.y),
                        0,
                        static_cast<UINT>(cut.x + cut.width),
                        static_cast<UINT>(cut.y + cut.height),
                        1};
    m_context->CopySubresourceRegion(m_cutStaging.Get(), 0, 0, 0, 0, m_desktop.Get(), 0, &box);
    D3D11_MAPPED_SUBRESOURCE mapped;
    HRESULT hr = m_context->Map(m_cutStaging.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(hr)) {
        return Fail("Map", hr);
    }
    // The desktop image is B8G8R8A8, as the window scaler's default layout reads it.
    m_windowFit.Scale(static_cast<const uint8_t*>(mapped.pData), mapped.RowPitch, PixelLayout{},
                      bgr);
    m_context->Unmap(m_cutStaging.Get(), 0);
    return KVCAP_OK;
}

int DuplicationSource::Grab(uint8_t* bgr) {
    // A closed window ends the mode even while nothing on the desktop changes.
    if (m_geometry.window != 0 && !WindowBoundsOnDesktop(m_geometry.window)) {
        return KVCAP_E_WINDOW_GONE;
    }
    // Access is lost on a mode change, a desktop switch, a secure desktop or a lost device;
    // win it back at a bounded rate, announcing failed frames until it comes.
    if (!m_duplication) {
        if (!m_recovery.MayRetry(DuplicationRecovery::Clock::now())) {
            return KVCAP_E_CAPTURE_FAILED;
        }
        if (m_deviceLost && !BuildDevice()) {
            return Fail("D3D11CreateDevice", DXGI_ERROR_DEVICE_REMOVED);
        }
        HRESULT hr = S_OK;
        if (!Duplicate(&hr)) {
            return Fail("DuplicateOutput", hr);
        }
    }
    DXGI_OUTDUPL_FRAME_INFO frameInfo;
    ComPtr<IDXGIResource> resource;
    HRESULT hr = m_duplication->AcquireNextFrame(m_desktop ? 0 : kFirstFrameTimeoutMs, &frameInfo,
                                                 &resource);
    if (SUCCEEDED(hr)) {
        if (frameInfo.LastMouseUpdateTime.QuadPart != 0) {
            m_pointerVisible = frameInfo.PointerPosition.Visible != FALSE;
        }
        // A frame with no present time only moved the pointer; the image is the last one.
        bool newImage = !m_desktop || frameInfo.LastPresentTime.QuadPart != 0;
        bool taken = !newImage || TakeDesktopImage(resource.Get());
        m_duplication->ReleaseFrame();
        if (!taken) {
            return KVCAP_E_CAPTURE_FAILED;
        }
    } else if (hr != DXGI_ERROR_WAIT_TIMEOUT) {
        return Fail("AcquireNextFrame", hr);
    } else if (!m_desktop) {
        return KVCAP_E_CAPTURE_FAILED;  // no image yet
    } else {
        m_recovery.Succeeded();
        return kGrabUnchanged;  // neither an image nor the pointer came: the last frame holds
    }
    m_recovery.Succeeded();
    if (m_geometry.window != 0) {
        return ReadWindow(bgr);
    }
    DrawScaled();
    if (m_geometry.drawCursor && m_pointerVisible) {
        DrawCursor();
    }
    return ReadBack(bgr);
}

}  // namespace

std::unique_ptr<CaptureSource> OpenDuplicationSource(const CaptureGeometry& geometry) {
    auto source = std::make_unique<DuplicationSource>(geometry);
    return source->Open() ? std::move(source) : nullptr;
}
