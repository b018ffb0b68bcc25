#include "OrvexMigrate/engine_connection.h"
#include "platform/images.h"

#include <string>

namespace orvex {
namespace {

platform::BSTR AllocString(std::u16string_view text) {
  const std::u16string copy(text);
  platform::BSTR string = platform::SysAllocString(copy.c_str());
  if (string == nullptr) throw ResultException(E_OUTOFMEMORY);
  return string;
}

}  // namespace

HRESULT EngineConnection::Start() {
  archive_directory_ = AllocString(paths_.archive_directory);
  input_path_ = AllocString(paths_.input_path);
  output_path_ = AllocString(paths_.output_path);
  engine_log_file_ = AllocString(paths_.engine_log_file);

  const platform::GdiplusStartupInput input;
  if (platform::GdiplusStartup(&imaging_token_, &input, nullptr) != platform::GDIPLUS_OK) {
    throw ResultException(E_FAIL);
  }
  imaging_started_ = true;
  const HRESULT hr = platform::CoInitializeEx(nullptr, platform::COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) throw ResultException(hr);
  com_initialized_ = true;

  engine_output_ = 0;
  return platform::CoCreateInstance(CLSID_OrvexEngine, nullptr, platform::CLSCTX_ALL,
                                    IID_IOrvexEngine, reinterpret_cast<void**>(&engine_));
}

HRESULT EngineConnection::Unzip() {
  return engine_->Unzip(archive_directory_, input_path_, engine_log_file_, &engine_output_);
}

HRESULT EngineConnection::Zip() {
  return engine_->Zip(archive_directory_, output_path_, engine_log_file_, platform::VARIANT_TRUE,
                      &engine_output_);
}

HRESULT EngineConnection::BuildImportCommandLine(platform::BSTR* command_line) const {
  platform::BSTR text = nullptr;
  HRESULT hr = platform::AppendBstr(&text, u"-r \"");
  if (SUCCEEDED(hr)) hr = platform::AppendBstr(&text, paths_.output_path);
  if (SUCCEEDED(hr)) hr = platform::AppendBstr(&text, u"\"");
  if (FAILED(hr)) {
    platform::SysFreeString(text);
    return hr;
  }
  *command_line = text;
  return S_OK;
}

HRESULT EngineConnection::Import(platform::BSTR command_line) {
  return engine_->Import(command_line, &engine_output_);
}

void EngineConnection::End() {
  if (engine_ != nullptr) {
    engine_->Release();
    engine_ = nullptr;
  }
  if (com_initialized_) {
    platform::CoUninitialize();
    com_initialized_ = false;
  }
  if (imaging_started_) {
    platform::GdiplusShutdown(imaging_token_);
    imaging_started_ = false;
  }
  for (platform::BSTR* string :
       {&archive_directory_, &input_path_, &output_path_, &engine_log_file_}) {
    platform::SysFreeString(*string);
    *string = nullptr;
  }
}

}  // namespace orvex
