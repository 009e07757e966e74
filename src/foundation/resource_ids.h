#pragma once

// The numbers of the resources a launcher executable carries, in one place for both readers: the
// resource compiler includes this file from the .rc files, and foundation/resources.h defines the
// C++ constants from it. Plain definitions only: the resource compiler reads no C++.
#define LAUNCHER_ICON_RESOURCE 1
#define LAUNCHER_SKIN_RESOURCE 101
#define LAUNCHER_BUILTIN_CONFIG_RESOURCE 102
#define LAUNCHER_UPDATE_CHANNEL_RESOURCE 103
