#include "migration/engine_connection.h"

#include <string>

#include "platform/images.h"

namespace orvex {
namespace {

platform::UniqueBstr AllocString(std::u16string_view text) {
  const std::u16string copy(text);
  platform::UniqueBstr string(platform::SysAllocString(copy.c_str()));
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

HRESULT EngineConnection::NameTouchedPaths(const std::vector<std::u16string>& paths) {
  IOrvexEngineScope* scope = nullptr;
  const HRESULT hr =
      engine_->QueryInterface(IID_IOrvexEngineScope, reinterpret_cast<void**>(&scope));
  if (hr == platform::E_NOINTERFACE) return S_OK;
  RETURN_IF_FAILED(hr);
  HRESULT named = S_OK;
  for (const std::u16string& path : paths) {
    named = scope->AddTouchedPath(AllocString(path).get());
    if (FAILED(named)) break;
  }
  scope->Release();
  return named;
}

HRESULT EngineConnection::Unzip() {
  return engine_->Unzip(archive_directory_.get(), input_path_.get(), engine_log_file_.get(),
                        &engine_output_);
}

HRESULT EngineConnection::Zip(bool replace_existing) {
  return engine_->Zip(archive_directory_.get(), output_path_.get(), engine_log_file_.get(),
                      replace_existing ? platform::VARIANT_TRUE : platform::VARIANT_FALSE,
                      &engine_output_);
}

HRESULT EngineConnection::BuildImportCommandLine(platform::UniqueBstr* command_line) const {
  platform::UniqueBstr text;
  for (const std::u16string_view part :
       {std::u16string_view(u"-r \""), paths_.output_path, std::u16string_view(u"\"")}) {
    // AppendBstr replaces the string on success and leaves it as it was on failure.
    platform::BSTR joined = text.release();
    const HRESULT hr = platform::AppendBstr(&joined, part);
    text.reset(joined);
    RETURN_IF_FAILED(hr);
  }
  *command_line = std::move(text);
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
  for (platform::UniqueBstr* string :
       {&archive_directory_, &input_path_, &output_path_, &engine_log_file_}) {
    string->reset();
  }
}

}  // namespace orvex
