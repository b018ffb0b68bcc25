// Any bytes as a migration XML file: reading must never crash or leak, and must end either with
// rules and no message or with exactly the two lines of one parse error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "common/result.h"
#include "logging/logger.h"
#include "platform/streams.h"
#include "platform/xml_reader.h"
#include "rules/xml_config.h"

namespace {

class CountingLogger : public Quenlar_Utils::AbstractLogger {
 public:
  int debug = 0;
  int error = 0;
  int other = 0;

 protected:
  void Write(Quenlar_Utils::LogLevel level, std::u16string_view /*line*/) override {
    if (level == Quenlar_Utils::kDebug) {
      ++debug;
    } else if (level == Quenlar_Utils::kError) {
      ++error;
    } else {
      ++other;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  auto logger = std::make_shared<CountingLogger>();
  orvex::GlobalLogger = logger;

  orvex::CXmlConfig config;
  orvex::platform::IMalloc* malloc = nullptr;
  std::unique_ptr<orvex::platform::IXmlReader> reader;
  if (orvex::FAILED(orvex::platform::CoGetMalloc(orvex::platform::MEMCTX_TASK, &malloc)) ||
      orvex::FAILED(orvex::platform::CreateXmlReader(&reader, malloc)) || reader == nullptr) {
    std::abort();
  }
  const orvex::XmlReaderContext context{malloc, reader.get(), &config};
  config.Attach(&context);
  orvex::platform::Stream stream;
  if (orvex::FAILED(
          orvex::platform::SHCreateMemStream(data, static_cast<std::uint32_t>(size), &stream))) {
    std::abort();
  }
  const bool parsed = orvex::ParseXmlStream(context, std::move(stream));

  const bool quiet = logger->debug == 0 && logger->error == 0 && logger->other == 0;
  const bool one_error = logger->debug == 1 && logger->error == 1 && logger->other == 0;
  if (parsed ? !quiet : !one_error) std::abort();
  for (std::int32_t i = 0; i < config.rules().Count(); ++i) {
    const auto kind = static_cast<std::uint32_t>(config.rules().At(i).kind);
    if (kind < 1 || kind > 4) std::abort();
  }
  config.rules().Clear();
  orvex::GlobalLogger.reset();
  return 0;
}
