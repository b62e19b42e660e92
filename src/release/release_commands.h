#pragma once

#include "release/release_arguments.h"

// The commands of ostrel-release; each returns the exit status and tells on standard error what failed.
constexpr int kReleaseExitDone = 0;
constexpr int kReleaseExitFailed = 1;
constexpr int kReleaseExitUsage = 2;

int RunKeygen(const ReleaseArguments& args);
int RunFiles(const ReleaseArguments& args);
int RunSign(const ReleaseArguments& args);
int RunVerify(const ReleaseArguments& args);
