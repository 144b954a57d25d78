// PNG encoding on Windows, through WIC's PNG encoder into a memory stream.
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <utility>

#include "companion/render_internal.h"
#include "platform/locked_global.h"

namespace standin {
namespace render {

namespace {

template <typename T>
struct Released {
  T* pointer = nullptr;
  ~Released() {
    if (pointer) pointer->Release();
  }
  T** operator&() { return &pointer; }
  T* operator->() const { return pointer; }
};

// COM for this thread for as long as it lives, when nobody started it yet.
struct ComScope {
  HRESULT started = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ~ComScope() {
    if (SUCCEEDED(started)) CoUninitialize();
  }
};

HRESULT Encode(const uint8_t* rgba, int width, int height, std::vector<uint8_t>* png) {
  Released<IWICImagingFactory> factory;
  HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(result)) return result;
  Released<IStream> stream;
  if (FAILED(result = CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return result;
  Released<IWICBitmapEncoder> encoder;
  if (FAILED(result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(result = encoder->Initialize(stream.pointer, WICBitmapEncoderNoCache))) {
    return result;
  }
  Released<IWICBitmapFrameEncode> frame;
  if (FAILED(result = encoder->CreateNewFrame(&frame, nullptr)) ||
      FAILED(result = frame->Initialize(nullptr)) ||
      FAILED(result = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) {
    return result;
  }
  // Straight (not premultiplied) alpha, as the renderings give it; BGRA is
  // the order every WIC PNG encoder takes.
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (FAILED(result = frame->SetPixelFormat(&format))) return result;
  if (format != GUID_WICPixelFormat32bppBGRA) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  const UINT stride = static_cast<UINT>(width) * 4;
  std::vector<BYTE> bgra(rgba, rgba + static_cast<size_t>(stride) * static_cast<UINT>(height));
  for (size_t i = 0; i < bgra.size(); i += 4) std::swap(bgra[i], bgra[i + 2]);
  if (FAILED(result = frame->WritePixels(static_cast<UINT>(height), stride,
                                         static_cast<UINT>(bgra.size()), bgra.data())) ||
      FAILED(result = frame->Commit()) || FAILED(result = encoder->Commit())) {
    return result;
  }
  HGLOBAL memory = nullptr;
  if (FAILED(result = GetHGlobalFromStream(stream.pointer, &memory))) return result;
  STATSTG stat = {};
  if (FAILED(result = stream->Stat(&stat, STATFLAG_NONAME))) return result;
  LockedGlobal bytes(memory);
  if (!bytes) return E_OUTOFMEMORY;
  const auto* begin = bytes.As<const uint8_t>();
  png->assign(begin, begin + stat.cbSize.QuadPart);
  return S_OK;
}

}  // namespace

bool EncodePng(const uint8_t* rgba, int width, int height, std::vector<uint8_t>* png,
               std::string* error) {
  png->clear();
  if (width <= 0 || height <= 0 || static_cast<uint64_t>(width) * 4 * height > 0x7FFFFFFF) {
    if (error) *error = "no PNG of " + std::to_string(width) + " x " + std::to_string(height);
    return false;
  }
  ComScope com;
  const HRESULT result = Encode(rgba, width, height, png);
  if (SUCCEEDED(result)) return true;
  png->clear();
  if (error) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    *error = std::string("WIC could not encode the PNG (") + text + ")";
  }
  return false;
}

}  // namespace render
}  // namespace standin
