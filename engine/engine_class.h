#pragma once
// The engine class itself, for what serves it: the process's own class registry on Linux, the
// server DLL on Windows.

#include <cstdint>

#include "engine/engine.h"

namespace orvex {

/// A new engine object, returned as the interface `iid` (AddRef'ed).
HRESULT CreateOrvexEngine(const platform::IID& iid, void** object);

/// How many engine objects are alive.
std::uint32_t LiveOrvexEngines();

}  // namespace orvex
