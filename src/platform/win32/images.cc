// Windows only: image files through GDI+'s flat interface, pictures through OLE.
#include "platform/images.h"

#include <memory>
#include <vector>

#include "platform/win32/streams.h"

// After the system's own declarations, as windows_api.h explains.
#include <olectl.h>

#include <gdiplus.h>

namespace orvex::platform {

struct ImageObject {
  Gdiplus::GpImage* native;
};

struct PictureObject {
  ::IPicture* native;
};

void ImageObjectDeleter::operator()(ImageObject* image) const {
  Gdiplus::DllExports::GdipDisposeImage(image->native);
  delete image;
}

void ImageObjectDeleter::operator()(PictureObject* picture) const {
  picture->native->Release();
  delete picture;
}

namespace {

// Writes all of `size` bytes at the stream's position.
HRESULT WriteAll(::IStream* stream, const void* data, std::size_t size) {
  ULONG written = 0;
  const HRESULT hr = stream->Write(data, static_cast<ULONG>(size), &written);
  if (FAILED(hr)) return hr;
  return written == size ? S_OK : STG_E_MEDIUMFULL;
}

struct DeviceContextDeleter {
  void operator()(HDC context) const { ::DeleteDC(context); }
};

// The bitmap as rows of 24-bit pixels, bottom-up and each padded to 4 bytes: the layout of a
// bitmap file.
HRESULT BitmapRows(HBITMAP bitmap, BITMAPINFOHEADER* header, std::vector<std::uint8_t>* rows) {
  BITMAP shape{};
  if (::GetObjectW(bitmap, sizeof(shape), &shape) == 0) return E_FAIL;
  *header = {};
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = shape.bmWidth;
  header->biHeight = shape.bmHeight;
  header->biPlanes = 1;
  header->biBitCount = 24;
  header->biCompression = BI_RGB;
  const std::size_t stride =
      (std::size_t{static_cast<std::uint32_t>(shape.bmWidth)} * 3 + 3) / 4 * 4;
  header->biSizeImage = static_cast<DWORD>(stride * static_cast<std::uint32_t>(shape.bmHeight));
  rows->assign(header->biSizeImage, 0);
  const std::unique_ptr<HDC__, DeviceContextDeleter> context(::CreateCompatibleDC(nullptr));
  if (!context) return E_OUTOFMEMORY;
  BITMAPINFO info{};
  info.bmiHeader = *header;
  if (::GetDIBits(context.get(), bitmap, 0, static_cast<UINT>(shape.bmHeight), rows->data(), &info,
                  DIB_RGB_COLORS) == 0) {
    return E_FAIL;
  }
  return S_OK;
}

HBITMAP BitmapOf(::IPicture* picture) {
  SHORT type = PICTYPE_UNINITIALIZED;
  OLE_HANDLE handle = 0;
  if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP ||
      FAILED(picture->get_Handle(&handle))) {
    return nullptr;
  }
  return reinterpret_cast<HBITMAP>(static_cast<std::uintptr_t>(handle));
}

}  // namespace

std::int32_t GdiplusStartup(std::uintptr_t* token, const GdiplusStartupInput* input, void* output) {
  if (input == nullptr) return GDIPLUS_INVALID_PARAMETER;
  Gdiplus::GdiplusStartupInput native;
  native.GdiplusVersion = input->gdiplus_version;
  native.DebugEventCallback =
      reinterpret_cast<Gdiplus::DebugEventProc>(input->debug_event_callback);
  native.SuppressBackgroundThread = input->suppress_background_thread;
  native.SuppressExternalCodecs = input->suppress_external_codecs;
  return Gdiplus::GdiplusStartup(token, &native,
                                 static_cast<Gdiplus::GdiplusStartupOutput*>(output));
}

void GdiplusShutdown(std::uintptr_t token) { Gdiplus::GdiplusShutdown(token); }

std::int32_t GdipLoadImageFromFile(std::u16string_view path, Image* image) {
  image->reset();
  Gdiplus::GpImage* native = nullptr;
  const Gdiplus::GpStatus status =
      Gdiplus::DllExports::GdipLoadImageFromFile(win32::Wide(std::u16string(path)), &native);
  if (status != Gdiplus::Ok) return status;
  image->reset(new ImageObject{native});
  return GDIPLUS_OK;
}

std::int32_t GdipGetImageRawFormat(const ImageObject* image, GUID* format) {
  if (image == nullptr || format == nullptr) return GDIPLUS_INVALID_PARAMETER;
  return Gdiplus::DllExports::GdipGetImageRawFormat(image->native,
                                                    reinterpret_cast<::GUID*>(format));
}

std::int32_t GdipGetImageEncoders(std::vector<ImageCodecInfo>* encoders) {
  encoders->clear();
  UINT count = 0, size = 0;
  Gdiplus::GpStatus status = Gdiplus::DllExports::GdipGetImageEncodersSize(&count, &size);
  if (status != Gdiplus::Ok) return status;
  // The list and the texts it points to come in one block.
  std::vector<std::uint64_t> block((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  auto* native = reinterpret_cast<Gdiplus::ImageCodecInfo*>(block.data());
  status = Gdiplus::DllExports::GdipGetImageEncoders(count, size, native);
  if (status != Gdiplus::Ok) return status;
  for (UINT i = 0; i < count; ++i) {
    const Gdiplus::ImageCodecInfo& info = native[i];
    encoders->push_back({reinterpret_cast<const CLSID&>(info.Clsid),
                         reinterpret_cast<const GUID&>(info.FormatID),
                         info.MimeType == nullptr
                             ? std::u16string()
                             : std::u16string(reinterpret_cast<const char16_t*>(info.MimeType))});
  }
  return GDIPLUS_OK;
}

std::int32_t GdipSaveImageToFile(const ImageObject* image, std::u16string_view path,
                                 const CLSID& encoder,
                                 std::span<const EncoderParameter> parameters) {
  if (image == nullptr) return GDIPLUS_INVALID_PARAMETER;
  // EncoderParameters is a count followed by that many entries.
  std::vector<std::uint64_t> block((sizeof(Gdiplus::EncoderParameters) +
                                    parameters.size() * sizeof(Gdiplus::EncoderParameter) +
                                    sizeof(std::uint64_t) - 1) /
                                   sizeof(std::uint64_t));
  auto* native = reinterpret_cast<Gdiplus::EncoderParameters*>(block.data());
  std::vector<ULONG> values(parameters.size());
  native->Count = static_cast<UINT>(parameters.size());
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    values[i] = parameters[i].value;
    native->Parameter[i] = {win32::Native(parameters[i].guid), 1, parameters[i].type, &values[i]};
  }
  return Gdiplus::DllExports::GdipSaveImageToFile(image->native, win32::Wide(std::u16string(path)),
                                                  &win32::Native(encoder),
                                                  parameters.empty() ? nullptr : native);
}

HRESULT OleLoadPicture(StreamObject* stream, Picture* picture) {
  picture->reset();
  if (stream == nullptr) return E_POINTER;
  ::IPicture* native = nullptr;
  const HRESULT hr =
      ::OleLoadPicture(stream->native, 0, FALSE, IID_IPicture, reinterpret_cast<void**>(&native));
  if (FAILED(hr)) return hr;
  picture->reset(new PictureObject{native});
  return S_OK;
}

HRESULT CopyPicture(const PictureObject* picture, Picture* copy) {
  copy->reset();
  if (picture == nullptr) return E_POINTER;
  const HBITMAP bitmap = BitmapOf(picture->native);
  if (bitmap == nullptr) return E_NOTIMPL;
  PICTDESC description{};
  description.cbSizeofstruct = sizeof(description);
  description.picType = PICTYPE_BITMAP;
  description.bmp.hbitmap =
      static_cast<HBITMAP>(::CopyImage(bitmap, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (description.bmp.hbitmap == nullptr) return E_OUTOFMEMORY;
  ::IPicture* native = nullptr;
  const HRESULT hr = ::OleCreatePictureIndirect(&description, IID_IPicture, TRUE,
                                                reinterpret_cast<void**>(&native));
  if (FAILED(hr)) {
    ::DeleteObject(description.bmp.hbitmap);
    return hr;
  }
  copy->reset(new PictureObject{native});
  return S_OK;
}

// IPicture::SaveAsFile writes a bitmap in the depth of the display, and some versions write a
// loaded picture's original bytes instead; the file is made from the bitmap's pixels so that it
// is the same 24-bit bitmap file on every system.
HRESULT SavePictureAsFile(const PictureObject* picture, StreamObject* stream,
                          bool /*save_memory_copy*/, std::int32_t* size) {
  if (picture == nullptr || stream == nullptr) return E_POINTER;
  const HBITMAP bitmap = BitmapOf(picture->native);
  if (bitmap == nullptr) return E_NOTIMPL;
  BITMAPINFOHEADER header;
  std::vector<std::uint8_t> rows;
  RETURN_IF_FAILED(BitmapRows(bitmap, &header, &rows));
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = static_cast<DWORD>(file.bfOffBits + rows.size());
  RETURN_IF_FAILED(WriteAll(stream->native, &file, sizeof(file)));
  RETURN_IF_FAILED(WriteAll(stream->native, &header, sizeof(header)));
  RETURN_IF_FAILED(WriteAll(stream->native, rows.data(), rows.size()));
  if (size != nullptr) *size = static_cast<std::int32_t>(file.bfSize);
  return S_OK;
}

}  // namespace orvex::platform
