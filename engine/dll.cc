// Windows only: OrvexEngine.dll serves the engine class.
#include "engine/engine_class.h"
#include "platform/com_server.h"

namespace orvex::platform {

const ServedClass kServedClass = {CLSID_OrvexEngine, &CreateOrvexEngine, &LiveOrvexEngines};

}  // namespace orvex::platform
