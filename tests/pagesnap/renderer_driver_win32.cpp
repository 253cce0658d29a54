#include "renderer_driver_win32.h"

#include <wincodec.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pagesnap_test {

namespace {

using pagesnap::kJobBlockSize;

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchFrame(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || gui::Narrow(gui::Text(window)) != pagesnap::kWindowTitle)
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

bool WriteJobBlock(const std::string& text) {
    if (text.size() + 1 > kJobBlockSize) return false;
    // Kept open for the life of the test program, as the desktop program keeps its own.
    static HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               kJobBlockSize, pagesnap::kJobMappingName);
    void* view =
        mapping ? MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0) : nullptr;
    if (!view) return false;
    std::memset(view, 0, kJobBlockSize);
    std::memcpy(view, text.c_str(), text.size() + 1);
    UnmapViewOfFile(view);
    return true;
}

Renderer::Renderer() {
    const std::wstring exe = folder_ / L"Pagesnap.exe";
    if (!CopyFileW((gui::ProgramFolder() + L"\\Pagesnap.exe").c_str(), exe.c_str(), FALSE)) {
        throw std::runtime_error("Pagesnap.exe is not beside the test program");
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring line = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder_.path().c_str(), &startup, &process_)) {
        throw std::runtime_error("Pagesnap.exe does not start");
    }
    gui::WaitUntil(
        [&] {
            WindowSearch search = {process_.dwProcessId, nullptr};
            EnumWindows(MatchFrame, reinterpret_cast<LPARAM>(&search));
            frame_ = search.found;
            target_ =
                frame_ ? FindWindowExA(frame_, nullptr, nullptr, pagesnap::kWindowTitle) : nullptr;
            return target_ != nullptr || !running();
        },
        20000);
}

Renderer::~Renderer() {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
}

bool Renderer::running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

void Renderer::Click() const {
    SendMessageA(target_, WM_LBUTTONDOWN, 0, 0);
    Sleep(pagesnap::kClickGapMs);
    SendMessageA(target_, WM_LBUTTONUP, 0, 0);
}

::testing::AssertionResult Picture::Shows(unsigned x, unsigned y, int r, int g, int b) const {
    if (!valid || x >= width || y >= height)
        return ::testing::AssertionFailure() << "outside the picture";
    const unsigned char* p = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
    if (std::abs(p[2] - r) <= 16 && std::abs(p[1] - g) <= 16 && std::abs(p[0] - b) <= 16) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "(" << x << "," << y << ") is rgb(" << int(p[2]) << ","
                                         << int(p[1]) << "," << int(p[0]) << ")";
}

Picture ReadJpeg(const std::wstring& path) {
    Picture picture;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    GUID container = {};
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
    if (SUCCEEDED(hr) && !IsEqualGUID(container, GUID_ContainerFormatJpeg)) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = frame->GetSize(&picture.width, &picture.height);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr)) {
        picture.bgra.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
        hr = converter->CopyPixels(nullptr, picture.width * 4,
                                   static_cast<UINT>(picture.bgra.size()), picture.bgra.data());
    }
    picture.valid = SUCCEEDED(hr);
    if (!picture.valid) {
        char text[64];
        std::snprintf(text, sizeof text, "not a readable JPEG (0x%08lx)",
                      static_cast<unsigned long>(hr));
        picture.error = text;
    }
    for (IUnknown* object : {static_cast<IUnknown*>(converter), static_cast<IUnknown*>(frame),
                             static_cast<IUnknown*>(decoder), static_cast<IUnknown*>(factory)}) {
        if (object) object->Release();
    }
    CoUninitialize();
    return picture;
}

}  // namespace pagesnap_test
