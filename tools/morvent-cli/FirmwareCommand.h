// FirmwareCommand.h: the firmware command: downloads an image file to a module's "LD" CU, shows the
// progress and the module's status, and waits for the module to come back "Ready".
#pragma once

#include "morvent-cli/CliOptions.h"

inline constexpr int kExitInterrupted = 6;
inline constexpr int kExitModuleError = 7;
inline constexpr int kExitCommError = 8;

int CmdFirmware(const CCliOptions& options, int argc, char** argv);
