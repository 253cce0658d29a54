// What the renderer's tests share: the job block Pagesnap reads, and its picture read the
// way a viewer would.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <wincodec.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver.h"
#include "pagesnap_protocol.h"

namespace pagesnap_test {

// The shared block "qmPagesnap" as it stands (empty when nobody holds it). With `text`, the
// text and zeros are written into it first; created if need be, and kept open.
inline std::string JobBlock(const std::string* text = nullptr) {
    static HANDLE mine = nullptr;
    if (text && !mine) {
        mine = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  pagesnap::kJobBlockSize, pagesnap::kJobMappingName);
    }
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, pagesnap::kJobMappingName);
    if (!mapping) return "";
    std::string block;
    if (char* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))) {
        if (text && text->size() < pagesnap::kJobBlockSize) {
            std::memset(view, 0, pagesnap::kJobBlockSize);
            std::memcpy(view, text->c_str(), text->size());
        }
        block.assign(view, pagesnap::kJobBlockSize);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return block;
}

// A JPEG as a viewer reads it.
struct Picture {
    HRESULT result = E_FAIL;
    unsigned width = 0;
    unsigned height = 0;
    std::vector<unsigned char> bgra;  // top-down rows

    bool valid() const { return SUCCEEDED(result); }
    // Whether the pixel is within 16 of the colour in every channel (JPEG is lossy); a
    // failure names the colour found.
    ::testing::AssertionResult Shows(unsigned x, unsigned y, int r, int g, int b) const {
        if (!valid() || x >= width || y >= height)
            return ::testing::AssertionFailure() << "outside the picture";
        const unsigned char* p = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
        if (std::abs(p[2] - r) <= 16 && std::abs(p[1] - g) <= 16 && std::abs(p[0] - b) <= 16)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "(" << x << "," << y << ") is rgb(" << int(p[2])
                                             << "," << int(p[1]) << "," << int(p[0]) << ")";
    }
};

inline Picture ReadJpeg(const std::wstring& path) {
    Picture picture;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICBitmapSource* pixels = nullptr;
    GUID container = {};
    HRESULT& hr = picture.result;
    hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
    if (SUCCEEDED(hr) && !IsEqualGUID(container, GUID_ContainerFormatJpeg)) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame, &pixels);
    if (SUCCEEDED(hr)) hr = pixels->GetSize(&picture.width, &picture.height);
    picture.bgra.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
    if (SUCCEEDED(hr))
        hr = pixels->CopyPixels(nullptr, picture.width * 4, static_cast<UINT>(picture.bgra.size()),
                                picture.bgra.data());
    for (IUnknown* object : {static_cast<IUnknown*>(pixels), static_cast<IUnknown*>(frame),
                             static_cast<IUnknown*>(decoder), static_cast<IUnknown*>(factory)})
        if (object) object->Release();
    CoUninitialize();
    return picture;
}

}  // namespace pagesnap_test
