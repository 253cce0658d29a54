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

// The browser's PNG picture as 32-bit BGRA pixels, `width` wide: what reads it stays alive
// with it.
struct PngPixels {
    ComPtr<IWICStream> input;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    ComPtr<IWICBitmapScaler> scaler;
    IWICBitmapSource* source = nullptr;
    UINT height = 0;
};

bool ReadPng(IWICImagingFactory* factory, const std::string& png, unsigned width, PngPixels* in,
             std::string* why) {
    HRESULT hr;
    if (FAILED(hr = factory->CreateStream(in->input.put())) ||
        FAILED(hr = in->input->InitializeFromMemory(
                   reinterpret_cast<BYTE*>(const_cast<char*>(png.data())),
                   static_cast<DWORD>(png.size()))) ||
        FAILED(hr = factory->CreateDecoderFromStream(in->input.get(), &GUID_ContainerFormatPng,
                                                     WICDecodeMetadataCacheOnDemand,
                                                     in->decoder.put())) ||
        FAILED(hr = in->decoder->GetFrame(0, in->frame.put()))) {
        *why = Failed("reading the browser's PNG picture", hr);
        return false;
    }
    UINT sourceWidth = 0, sourceHeight = 0;
    in->frame->GetSize(&sourceWidth, &sourceHeight);
    if (sourceWidth == 0 || sourceHeight == 0) {
        *why = "the browser's picture is empty";
        return false;
    }

    // Not every converter of every WIC version goes straight to 24-bit BGR (Wine's does
    // not), but all reach 32-bit BGRA; the last step to BGR is done by WriteStrips.
    if (FAILED(hr = factory->CreateFormatConverter(in->converter.put())) ||
        FAILED(hr = in->converter->Initialize(in->frame.get(), GUID_WICPixelFormat32bppBGRA,
                                              WICBitmapDitherTypeNone, nullptr, 0.0,
                                              WICBitmapPaletteTypeCustom))) {
        *why = Failed("converting the picture's pixels", hr);
        return false;
    }
    in->source = in->converter.get();
    in->height = sourceHeight;
    if (sourceWidth == width) return true;
    // A browser on a high-DPI screen may draw at its own scale despite being told not to.
    in->height = static_cast<UINT>(
        (static_cast<unsigned long long>(sourceHeight) * width + sourceWidth / 2) / sourceWidth);
    if (in->height == 0) in->height = 1;
    if (FAILED(hr = factory->CreateBitmapScaler(in->scaler.put())) ||
        FAILED(hr = in->scaler->Initialize(in->converter.get(), width, in->height,
                                           WICBitmapInterpolationModeFant))) {
        *why = Failed("scaling the picture", hr);
        return false;
    }
    in->source = in->scaler.get();
    return true;
}

// A JPEG file of 24-bit pixels, `width` by `height`, ready for its rows.
struct JpegFile {
    ComPtr<IWICStream> output;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
};

bool StartJpeg(IWICImagingFactory* factory, const std::string& path, UINT width, UINT height,
               JpegFile* out, std::string* why) {
    HRESULT hr;
    const std::wstring widePath = AnsiToWide(path);
    if (FAILED(hr = factory->CreateStream(out->output.put())) ||
        FAILED(hr = out->output->InitializeFromFilename(widePath.c_str(), GENERIC_WRITE))) {
        *why = Failed("creating the picture file", hr) + ": " + path;
        return false;
    }
    if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, out->encoder.put())) ||
        FAILED(hr = out->encoder->Initialize(out->output.get(), WICBitmapEncoderNoCache)) ||
        FAILED(hr = out->encoder->CreateNewFrame(out->frame.put(), out->options.put()))) {
        *why = Failed("starting the JPEG encoder", hr);
        return false;
    }
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT quality;
    VariantInit(&quality);
    quality.vt = VT_R4;
    quality.fltVal = kJpegQuality;
    out->options->Write(1, &option, &quality);  // an encoder without the option keeps its default
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(hr = out->frame->Initialize(out->options.get())) ||
        FAILED(hr = out->frame->SetSize(width, height)) ||
        FAILED(hr = out->frame->SetPixelFormat(&format))) {
        *why = Failed("setting up the JPEG picture", hr);
        return false;
    }
    if (!IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) {
        *why = "the JPEG encoder does not take 24-bit colour";
        return false;
    }
    return true;
}

// Copies the first `height` rows of `source` into `target`, a strip at a time, from BGRA to
// BGR.
bool WriteStrips(IWICBitmapSource* source, IWICBitmapFrameEncode* target, UINT width,
                 UINT height, std::string* why) {
    HRESULT hr;
    const UINT bgraStride = width * 4;
    const UINT bgrStride = (width * 3 + 3) & ~3u;
    std::vector<BYTE> bgra(static_cast<std::size_t>(bgraStride) * kRowsPerStrip);
    std::vector<BYTE> bgr(static_cast<std::size_t>(bgrStride) * kRowsPerStrip);
    for (UINT y = 0; y < height; y += kRowsPerStrip) {
        const UINT rows = height - y < kRowsPerStrip ? height - y : kRowsPerStrip;
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
    return true;
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
    PngPixels in;
    if (!ReadPng(factory.get(), png, width, &in, why)) return false;
    const UINT height = in.height > maxHeight ? maxHeight : in.height;
    JpegFile out;
    if (!StartJpeg(factory.get(), path, width, height, &out, why) ||
        !WriteStrips(in.source, out.frame.get(), width, height, why))
        return false;
    if (FAILED(hr = out.frame->Commit()) || FAILED(hr = out.encoder->Commit())) {
        *why = Failed("finishing the JPEG picture", hr);
        return false;
    }
    shape->width = width;
    shape->height = height;
    return true;
}

}  // namespace pagesnap
