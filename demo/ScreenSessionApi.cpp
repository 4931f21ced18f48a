#include <httplib.h>

#include "demo/DemoService.h"

namespace demo {

void registerScreenSessionApi(httplib::Server& /*server*/, const DemoConfig& /*config*/, ScreenSessions& /*sessions*/) {}

}  // namespace demo
