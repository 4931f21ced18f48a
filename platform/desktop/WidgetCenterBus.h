#pragma once

// Where the app's widget reload request travels on the session bus: the sender
// (WidgetCenter) and the widget host's listener both use these names.
namespace platform::desktop::widgetcenterbus {

inline constexpr const char* kObjectPath = "/com/tarnwell/sorn/WidgetCenter";
inline constexpr const char* kInterface = "com.tarnwell.sorn.WidgetCenter";
inline constexpr const char* kReloadSignal = "ReloadAllTimelines";

}  // namespace platform::desktop::widgetcenterbus
