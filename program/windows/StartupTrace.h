// Marks along the start-up, for the benchmark's traced build of the program
// (bench/, VelmoraTraced.exe): each mark notes the performance counter under
// a name, and bench/StartupTimer turns them into the time of every step.
// Only a tree that defines VELMORA_STARTUP_TRACE has them; in the program
// that ships a mark is nothing at all.
#pragma once

#ifdef VELMORA_STARTUP_TRACE
#include <string_view>

namespace velmora {
void StartupMark(std::string_view what, std::string_view detail = {});
}  // namespace velmora

#define VELMORA_MARK(...) ::velmora::StartupMark(__VA_ARGS__)
#else
#define VELMORA_MARK(...) ((void)0)
#endif
