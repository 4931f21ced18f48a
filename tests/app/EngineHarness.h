#pragma once

// The harness of the engine this test program is built for: the same interface on each.
#if defined(SORN_ENGINE_QTWEBENGINE)
#include "tests/app/QtWebEngineHarness.h"
namespace apptest {
using EngineHarness = QtWebEngineHarness;
}
#else
#include "tests/app/WebKitHarness.h"
namespace apptest {
using EngineHarness = WebKitHarness;
}
#endif
