#pragma once

#include <chrono>

// A transfer fails when no byte arrives for this long once its connection stands (the connection
// itself has its own time-out). One value for the whole process.
constexpr std::chrono::milliseconds kDefaultStallTimeout{30000};

std::chrono::milliseconds StallTimeout();
// For tests, which cannot wait 30 s for a silent server.
void SetStallTimeout(std::chrono::milliseconds timeout);
