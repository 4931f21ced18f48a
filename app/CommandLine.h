#pragma once

#include "platform/text/Translation.h"

// The app's command line, the same whichever engine it was built with.
namespace app {

inline constexpr const char* kProgramName = "sorn";
inline constexpr const char* kDescription = N_(
    "Sorn is the client of the Sorn voice-chat service. It shows the service's dashboard in one window, "
    "keeps your voice statistics for the Sorn home-screen widgets and the credentials of the voice channel "
    "you are in, and shares your screen into that channel when the dashboard asks for it.");
inline constexpr const char* kHelpOptionDescription = N_("Show this help and exit");

}  // namespace app
