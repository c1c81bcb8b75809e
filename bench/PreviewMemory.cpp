// The memory a preview takes: puts a picture box on a hidden window, as the
// main window has it, draws one picture file onto it and prints the
// process's memory figures before and after.
//
//   PreviewMemory <picture file>
//
// Run it once on a small picture and once on a large one, each in a process
// of its own; the difference of the "after" figures is what the large
// picture costs. A thread samples the private bytes every millisecond while
// the picture is drawn, because Wine's PeakPagefileUsage is the current
// figure, not a peak (its PeakWorkingSetSize is a real peak: the resident
// high-water mark).
#include <windows.h>
#include <ole2.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>
#include <thread>

#include "platform/win32/Win32Ports.h"
#include "windows/PictureBox.h"

namespace {

PROCESS_MEMORY_COUNTERS Counters() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
  return c;
}

unsigned long long KiB(SIZE_T bytes) { return static_cast<unsigned long long>(bytes) / 1024; }

void Print(const char* when, const PROCESS_MEMORY_COUNTERS& c) {
  std::printf("%s.PeakWorkingSetSize %llu KiB\n", when, KiB(c.PeakWorkingSetSize));
  std::printf("%s.PeakPagefileUsage %llu KiB\n", when, KiB(c.PeakPagefileUsage));
  std::printf("%s.WorkingSetSize %llu KiB\n", when, KiB(c.WorkingSetSize));
  std::printf("%s.PagefileUsage %llu KiB\n", when, KiB(c.PagefileUsage));
}

double NowMs() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: PreviewMemory <picture file>\n");
    return 2;
  }
  if (FAILED(OleInitialize(nullptr))) return 1;

  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VelmoraBenchPreviewHost";
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr, nullptr,
                              wc.hInstance, nullptr);
  if (!host) return 1;
  HWND box = velmora::CreatePictureBox(host, RECT{10, 10, 148, 115}, 1);
  if (!box) return 1;

  const PROCESS_MEMORY_COUNTERS before = Counters();
  std::atomic<bool> drawing{true};
  SIZE_T sampledPrivate = before.PagefileUsage, sampledWorkingSet = before.WorkingSetSize;
  std::thread sampler([&] {
    while (drawing.load()) {
      const PROCESS_MEMORY_COUNTERS c = Counters();
      if (c.PagefileUsage > sampledPrivate) sampledPrivate = c.PagefileUsage;
      if (c.WorkingSetSize > sampledWorkingSet) sampledWorkingSet = c.WorkingSetSize;
      Sleep(1);
    }
  });

  int rc = 0;
  const double start = NowMs();
  try {
    velmora::DrawPictureFile(box, velmora::WideToUtf8(argv[1], static_cast<int>(wcslen(argv[1]))));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the picture was not drawn: %s\n", e.what());
    rc = 1;
  } catch (...) {
    std::fprintf(stderr, "the picture was not drawn\n");
    rc = 1;
  }
  const double drawMs = NowMs() - start;
  drawing = false;
  sampler.join();
  const PROCESS_MEMORY_COUNTERS after = Counters();

  Print("before", before);
  Print("after", after);
  std::printf("sampled.PeakPagefileUsage %llu KiB\n", KiB(sampledPrivate > after.PagefileUsage ? sampledPrivate
                                                                                                : after.PagefileUsage));
  std::printf("sampled.PeakWorkingSetSize %llu KiB\n",
              KiB(sampledWorkingSet > after.WorkingSetSize ? sampledWorkingSet : after.WorkingSetSize));
  std::printf("draw %.0f ms\n", drawMs);

  DestroyWindow(host);
  OleUninitialize();
  return rc;
}
