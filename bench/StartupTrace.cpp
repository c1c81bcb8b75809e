// The marks of the traced build (program/windows/StartupTrace.h): kept in
// memory while the program starts, written when it ends, one line each, to
// "<program path>.trace", where bench/StartupTimer reads and removes them:
//
//   frequency <counts per second>
//   <count> <what>[ <detail>]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "windows/StartupTrace.h"

namespace velmora {
namespace {

struct Mark {
  LONGLONG count;
  char name[64];
};

Mark g_marks[256];
int g_count = 0;

void WriteMarks() {
  wchar_t path[MAX_PATH + 8];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  wcscpy(path + n, L".trace");
  FILE* out = _wfopen(path, L"w");
  if (!out) return;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::fprintf(out, "frequency %lld\n", static_cast<long long>(frequency.QuadPart));
  for (int i = 0; i < g_count; ++i)
    std::fprintf(out, "%lld %s\n", static_cast<long long>(g_marks[i].count), g_marks[i].name);
  std::fclose(out);
}

}  // namespace

void StartupMark(std::string_view what, std::string_view detail) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (g_count == 0) std::atexit(WriteMarks);
  if (g_count == static_cast<int>(sizeof g_marks / sizeof g_marks[0])) return;
  Mark& m = g_marks[g_count++];
  m.count = now.QuadPart;
  std::snprintf(m.name, sizeof m.name, "%.*s%s%.*s", static_cast<int>(what.size()), what.data(),
                detail.empty() ? "" : " ", static_cast<int>(detail.size()), detail.data());
}

}  // namespace velmora

namespace {

// The exe's first code, before the runtime's and the program's static
// objects are made: what lies before it is the loader's work (the exe, the
// DLLs it imports, the activation context of its manifest).
__attribute__((constructor(101))) void FirstCode() { velmora::StartupMark("loader done, static objects next"); }

}  // namespace
