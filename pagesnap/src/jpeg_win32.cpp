#include "jpeg_win32.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <vector>

#include "winutil_win32.h"

namespace pagesnap {

namespace {

constexpr float kJpegQuality = 0.9f;
constexpr unsigned kRowsPerStrip = 256;

// Releases a COM interface at the end of a scope.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p_) p_->Release();
    }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** put() { return &p_; }

private:
    T* p_ = nullptr;
};

std::string Failed(const char* step, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (0x%08lx)", step, static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

bool WritePngAsJpeg(const std::string& png, unsigned width, unsigned maxHeight,
                    const std::string& path, JpegShape* shape, std::string* why) {
    HRESULT hr;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IWICImagingFactory,
                                     reinterpret_cast<void**>(factory.put())))) {
        *why = Failed("starting the Windows Imaging Component", hr);
        return false;
    }
    ComPtr<IWICStream> input;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(hr = factory->CreateStream(input.put())) ||
        FAILED(
            hr = input->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(png.data())),
                                             static_cast<DWORD>(png.size()))) ||
        FAILED(hr = factory->CreateDecoderFromStream(input.get(), &GUID_ContainerFormatPng,
                                                     WICDecodeMetadataCacheOnDemand,
                                                     decoder.put())) ||
        FAILED(hr = decoder->GetFrame(0, frame.put()))) {
        *why = Failed("reading the browser's PNG picture", hr);
        return false;
    }
    UINT sourceWidth = 0, sourceHeight = 0;
    frame->GetSize(&sourceWidth, &sourceHeight);
    if (sourceWidth == 0 || sourceHeight == 0) {
        *why = "the browser's picture is empty";
        return false;
    }

    // Not every converter of every WIC version goes straight to 24-bit BGR (Wine's does
    // not), but all reach 32-bit BGRA; the last step to BGR is done here.
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(hr = factory->CreateFormatConverter(converter.put())) ||
        FAILED(hr = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA,
                                          WICBitmapDitherTypeNone, nullptr, 0.0,
                                          WICBitmapPaletteTypeCustom))) {
        *why = Failed("converting the picture's pixels", hr);
        return false;
    }
    IWICBitmapSource* source = converter.get();
    UINT outHeight = sourceHeight;
    ComPtr<IWICBitmapScaler> scaler;
    if (sourceWidth != width) {
        // A browser on a high-DPI screen may draw at its own scale despite being told not to.
        outHeight = static_cast<UINT>(
            (static_cast<unsigned long long>(sourceHeight) * width + sourceWidth / 2) /
            sourceWidth);
        if (outHeight == 0) outHeight = 1;
        if (FAILED(hr = factory->CreateBitmapScaler(scaler.put())) ||
            FAILED(hr = scaler->Initialize(converter.get(), width, outHeight,
                                           WICBitmapInterpolationModeFant))) {
            *why = Failed("scaling the picture", hr);
            return false;
        }
        source = scaler.get();
    }
    if (outHeight > maxHeight) outHeight = maxHeight;

    const std::wstring widePath = AnsiToWide(path);
    ComPtr<IWICStream> output;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> target;
    ComPtr<IPropertyBag2> options;
    if (FAILED(hr = factory->CreateStream(output.put())) ||
        FAILED(hr = output->InitializeFromFilename(widePath.c_str(), GENERIC_WRITE))) {
        *why = Failed("creating the picture file", hr) + ": " + path;
        return false;
    }
    if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder.put())) ||
        FAILED(hr = encoder->Initialize(output.get(), WICBitmapEncoderNoCache)) ||
        FAILED(hr = encoder->CreateNewFrame(target.put(), options.put()))) {
        *why = Failed("starting the JPEG encoder", hr);
        return false;
    }
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT quality;
    VariantInit(&quality);
    quality.vt = VT_R4;
    quality.fltVal = kJpegQuality;
    options->Write(1, &option, &quality);  // an encoder without the option keeps its default
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(hr = target->Initialize(options.get())) ||
        FAILED(hr = target->SetSize(width, outHeight)) ||
        FAILED(hr = target->SetPixelFormat(&format))) {
        *why = Failed("setting up the JPEG picture", hr);
        return false;
    }
    if (!IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) {
        *why = "the JPEG encoder does not take 24-bit colour";
        return false;
    }

    const UINT bgraStride = width * 4;
    const UINT bgrStride = (width * 3 + 3) & ~3u;
    std::vector<BYTE> bgra(static_cast<std::size_t>(bgraStride) * kRowsPerStrip);
    std::vector<BYTE> bgr(static_cast<std::size_t>(bgrStride) * kRowsPerStrip);
    for (UINT y = 0; y < outHeight; y += kRowsPerStrip) {
        const UINT rows = outHeight - y < kRowsPerStrip ? outHeight - y : kRowsPerStrip;
        WICRect strip = {0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        if (FAILED(hr = source->CopyPixels(&strip, bgraStride, bgraStride * rows, bgra.data()))) {
            *why = Failed("reading the picture's pixels", hr);
            return false;
        }
        for (UINT r = 0; r < rows; ++r) {
            const BYTE* in = &bgra[static_cast<std::size_t>(r) * bgraStride];
            BYTE* out = &bgr[static_cast<std::size_t>(r) * bgrStride];
            for (UINT x = 0; x < width; ++x, in += 4, out += 3) {
                // Transparent parts of a page are shown on white, as a browser shows them.
                const unsigned alpha = in[3];
                for (int c = 0; c < 3; ++c) {
                    out[c] = static_cast<BYTE>((in[c] * alpha + 255 * (255 - alpha) + 127) / 255);
                }
            }
        }
        if (FAILED(hr = target->WritePixels(rows, bgrStride, bgrStride * rows, bgr.data()))) {
            *why = Failed("writing the JPEG picture", hr);
            return false;
        }
    }
    if (FAILED(hr = target->Commit()) || FAILED(hr = encoder->Commit())) {
        *why = Failed("finishing the JPEG picture", hr);
        return false;
    }
    shape->width = width;
    shape->height = outHeight;
    return true;
}

}  // namespace pagesnap
