// Where the engine is a COM server of its own, found by COM itself, the process registers nothing.
#include "engine/engine.h"

namespace orvex {

HRESULT RegisterOrvexEngine() { return S_OK; }

}  // namespace orvex
