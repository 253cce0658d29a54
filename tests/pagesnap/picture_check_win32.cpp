#include "picture_check_win32.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <cstdlib>

namespace pagesnap_test {

bool Picture::Near(unsigned x, unsigned y, int r, int g, int b, int tolerance) const {
  if (!valid || x >= width || y >= height) return false;
  const unsigned char* p = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
  return std::abs(p[2] - r) <= tolerance && std::abs(p[1] - g) <= tolerance &&
         std::abs(p[0] - b) <= tolerance;
}

std::string Picture::Describe(unsigned x, unsigned y) const {
  if (!valid || x >= width || y >= height) return "(outside the picture)";
  const unsigned char* p = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
  char text[48];
  std::snprintf(text, sizeof text, "rgb(%d,%d,%d)", p[2], p[1], p[0]);
  return text;
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
  if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                             WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
  if (SUCCEEDED(hr) && !IsEqualGUID(container, GUID_ContainerFormatJpeg)) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = frame->GetSize(&picture.width, &picture.height);
  if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr)) hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA,
                                                WICBitmapDitherTypeNone, nullptr, 0.0,
                                                WICBitmapPaletteTypeCustom);
  if (SUCCEEDED(hr)) {
    picture.bgra.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
    hr = converter->CopyPixels(nullptr, picture.width * 4, static_cast<UINT>(picture.bgra.size()),
                               picture.bgra.data());
  }
  picture.valid = SUCCEEDED(hr);
  if (!picture.valid) {
    char text[64];
    std::snprintf(text, sizeof text, "not a readable JPEG (0x%08lx)", static_cast<unsigned long>(hr));
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
