// Times how long programs take from process start to their visible main
// window, several programs in turn in one run, so that each run of one is
// measured under the same conditions as its neighbours of the others.
//
//   StartupTimer [--runs N] [--warmup W] [--timeout-ms T] [--idle-ms I]
//                [--baselines B] <label> <exe> <window class or -> <window title> ...
//
// With --idle-ms, each program is then started once more and left alone
// with its window shown: its CPU time over I ms (after a second to settle)
// and its peak working set are reported beside the baseline's.
//
// The first B programs (1 unless told) are the baselines: each of the others
// is reported as the ratio of its median to each baseline's median. Each run launches the exe with CreateProcess
// (its own folder as the current folder), polls FindWindowW + IsWindowVisible
// every millisecond (WaitForInputIdle is no use under Wine: it returns only
// after about two seconds), then closes the window with WM_CLOSE and waits
// for the process to end before the next launch. The order of the programs
// is reversed every other round, so neither always runs right after the
// other.
//
// A program built with start-up marks (bench/StartupTrace.cpp) leaves them in
// "<exe>.trace" when it ends; they are read after each launch and reported
// as a table of the steps: the median time of each from the mark before it,
// and the median time since the launch.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Program {
  std::wstring label, exe, windowClass, title;
  std::vector<double> ms;
  // The marks of each run: the step's name and the ms since the launch.
  std::vector<std::vector<std::pair<std::string, double>>> marks;
};

double Now() {
  static const double perMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / perMs;
}

// The visible window of that class and title owned by the process, if any.
HWND VisibleWindowOf(const Program& p, DWORD pid) {
  const wchar_t* cls = p.windowClass.empty() ? nullptr : p.windowClass.c_str();
  for (HWND w = FindWindowExW(nullptr, nullptr, cls, p.title.c_str()); w;
       w = FindWindowExW(nullptr, w, cls, p.title.c_str())) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// What the process shows instead, when its window does not come: a question
// box left waiting for an answer is the usual reason.
BOOL CALLBACK ListOne(HWND w, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(w, &owner);
  if (owner == static_cast<DWORD>(pid) && IsWindowVisible(w)) {
    wchar_t cls[128] = {}, title[256] = {};
    GetClassNameW(w, cls, 128);
    GetWindowTextW(w, title, 256);
    std::fwprintf(stderr, L"  the process shows a window of class \"%ls\" titled \"%ls\"\n", cls, title);
  }
  return TRUE;
}

void ListWindowsOf(DWORD pid) { EnumWindows(ListOne, static_cast<LPARAM>(pid)); }

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The marks the program left of the launch at `start`, removed once read.
std::vector<std::pair<std::string, double>> ReadMarks(const Program& p, double start) {
  std::vector<std::pair<std::string, double>> marks;
  const std::wstring path = p.exe + L".trace";
  {
    std::ifstream in(path.c_str());
    std::string line;
    double perMs = 0;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string first, name;
      fields >> first;
      std::getline(fields >> std::ws, name);
      if (first == "frequency") perMs = std::atof(name.c_str()) / 1000.0;
      else if (perMs > 0) marks.emplace_back(name, std::atof(first.c_str()) / perMs - start);
    }
  }
  DeleteFileW(path.c_str());
  return marks;
}

// Milliseconds to the visible window, or a negative number on failure; the
// launch's start (ms of the performance counter) goes to *started.
double TimeOne(const Program& p, DWORD timeoutMs, double* started = nullptr) {
  std::wstring commandLine = L"\"" + p.exe + L"\"";
  const std::wstring folder = FolderOf(p.exe);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // Wine now and then refuses a launch right after its server has started
  // (ERROR_INTERNAL_ERROR); a second try goes through.
  double start = 0;
  for (int attempt = 1;; ++attempt) {
    start = Now();
    if (CreateProcessW(p.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &si, &pi))
      break;
    const DWORD error = GetLastError();
    if (attempt == 3 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      std::fwprintf(stderr, L"cannot start %ls (error %lu)\n", p.exe.c_str(), error);
      return -1;
    }
    Sleep(500);
  }
  if (started) *started = start;
  HWND window = nullptr;
  double elapsed = 0;
  bool ended = false;
  while (!(window = VisibleWindowOf(p, pi.dwProcessId))) {
    elapsed = Now() - start;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
    if (elapsed > timeoutMs) break;
    Sleep(1);
  }
  elapsed = Now() - start;
  double result = elapsed;
  if (!window) {
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    if (ended)
      std::fwprintf(stderr, L"%ls ended (exit code %lu) without showing its window\n", p.label.c_str(), code);
    else {
      std::fwprintf(stderr, L"%ls showed no visible window \"%ls\" within %lu ms\n", p.label.c_str(),
                    p.title.c_str(), timeoutMs);
      ListWindowsOf(pi.dwProcessId);
    }
    result = -1;
  } else {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
    if (window) std::fwprintf(stderr, L"%ls did not end within 10 s of WM_CLOSE; terminated\n", p.label.c_str());
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
    result = -1;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int Usage() {
  std::fwprintf(stderr,
                L"usage: StartupTimer [--runs N] [--warmup W] [--timeout-ms T] [--idle-ms I] [--baselines B] "
                L"<label> <exe> <window class or -> <window title> ...\n");
  return 2;
}

// CPU time in ms over idleMs of the shown, untouched program, and its peak
// working set in KiB; false on failure.
bool IdleOne(const Program& p, DWORD timeoutMs, DWORD idleMs, double& cpuMs, double& peakKiB) {
  std::wstring commandLine = L"\"" + p.exe + L"\"";
  const std::wstring folder = FolderOf(p.exe);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(p.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &si, &pi))
    return false;
  const double start = Now();
  HWND window = nullptr;
  while (!(window = VisibleWindowOf(p, pi.dwProcessId)) && Now() - start < timeoutMs) Sleep(1);
  auto cpu = [&] {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user);
    auto ticks = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
  };
  bool ok = window != nullptr;
  if (ok) {
    Sleep(1000);
    const double before = cpu();
    Sleep(idleMs);
    cpuMs = cpu() - before;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ok = GetProcessMemoryInfo(pi.hProcess, &counters, sizeof counters) != FALSE;
    peakKiB = static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int runs = 15, warmup = 2, baselines = 1;
  DWORD timeoutMs = 30000, idleMs = 0;
  std::vector<Program> programs;
  int i = 1;
  for (; i < argc && std::wcsncmp(argv[i], L"--", 2) == 0; i += 2) {
    if (i + 1 >= argc) return Usage();
    const int value = _wtoi(argv[i + 1]);
    if (!std::wcscmp(argv[i], L"--runs")) runs = value;
    else if (!std::wcscmp(argv[i], L"--warmup")) warmup = value;
    else if (!std::wcscmp(argv[i], L"--timeout-ms")) timeoutMs = static_cast<DWORD>(value);
    else if (!std::wcscmp(argv[i], L"--idle-ms")) idleMs = static_cast<DWORD>(value);
    else if (!std::wcscmp(argv[i], L"--baselines")) baselines = value;
    else return Usage();
  }
  if (runs < 1 || (argc - i) < 4 || (argc - i) % 4 != 0) return Usage();
  for (; i < argc; i += 4) {
    Program p{argv[i], argv[i + 1], argv[i + 2], argv[i + 3], {}, {}};
    if (p.windowClass == L"-") p.windowClass.clear();
    programs.push_back(std::move(p));
  }
  if (baselines < 1 || baselines > static_cast<int>(programs.size())) return Usage();

  // The first launches of a program read its files from disk and fill
  // Wine's caches; they say nothing about the program.
  for (int w = 0; w < warmup; ++w)
    for (const Program& p : programs) {
      if (TimeOne(p, timeoutMs) < 0) return 1;
      ReadMarks(p, 0);
    }

  for (int r = 0; r < runs; ++r) {
    for (std::size_t k = 0; k < programs.size(); ++k) {
      Program& p = programs[r % 2 ? programs.size() - 1 - k : k];
      double started = 0;
      const double ms = TimeOne(p, timeoutMs, &started);
      if (ms < 0) return 1;
      p.ms.push_back(ms);
      auto marks = ReadMarks(p, started);
      if (!marks.empty()) p.marks.push_back(std::move(marks));
    }
    std::wprintf(L"run %2d", r + 1);
    for (const Program& p : programs) std::wprintf(L"  %ls %7.1f ms", p.label.c_str(), p.ms.back());
    std::wprintf(L"\n");
    std::fflush(stdout);
  }

  for (const Program& p : programs) {
    const auto [lo, hi] = std::minmax_element(p.ms.begin(), p.ms.end());
    std::vector<double> sorted = p.ms;
    std::sort(sorted.begin(), sorted.end());
    // The spread of the middle half says how noisy the machine was.
    std::wprintf(L"median %ls %.1f ms (min %.1f, quartiles %.1f-%.1f, max %.1f, %d runs)\n", p.label.c_str(),
                 Median(p.ms), *lo, sorted[sorted.size() / 4], sorted[(sorted.size() * 3) / 4], *hi, runs);
  }
  // The ratio of the fastest runs too: on a busy machine it is the steadier of the two.
  for (std::size_t k = static_cast<std::size_t>(baselines); k < programs.size(); ++k)
    for (std::size_t b = 0; b < static_cast<std::size_t>(baselines); ++b)
      std::wprintf(L"ratio %ls/%ls %.2f (of the minima %.2f)\n", programs[k].label.c_str(),
                   programs[b].label.c_str(), Median(programs[k].ms) / Median(programs[b].ms),
                   *std::min_element(programs[k].ms.begin(), programs[k].ms.end()) /
                       *std::min_element(programs[b].ms.begin(), programs[b].ms.end()));

  // The steps of a traced program, in the order of its first run; a run
  // that went another way is left out of the step where it differs. "since"
  // is the median time from the launch.
  for (const Program& p : programs) {
    if (p.marks.empty()) continue;
    // The least time of a step comes nearest to what it costs on an idle
    // machine; the median says what it costs on this one.
    std::wprintf(L"\nsteps of %ls (%d runs; ms)\n%-40ls %8ls %8ls %8ls\n", p.label.c_str(),
                 static_cast<int>(p.marks.size()), L"step", L"median", L"least", L"since");
    std::vector<double> main;
    for (const auto& run : p.marks) main.push_back(run.front().second);
    std::wprintf(L"%-40ls %8.1f %8.1f %8.1f\n", L"process start to the first mark", Median(main),
                 *std::min_element(main.begin(), main.end()), Median(main));
    const auto& first = p.marks.front();
    for (std::size_t m = 1; m < first.size(); ++m) {
      std::vector<double> step, since;
      for (const auto& run : p.marks) {
        if (run.size() != first.size() || run[m].first != first[m].first) continue;
        step.push_back(run[m].second - run[m - 1].second);
        since.push_back(run[m].second);
      }
      if (step.empty()) continue;
      const std::wstring name(first[m].first.begin(), first[m].first.end());  // ASCII names
      std::wprintf(L"%-40ls %8.1f %8.1f %8.1f\n", name.c_str(), Median(step),
                   *std::min_element(step.begin(), step.end()), Median(since));
    }
  }

  if (idleMs) {
    std::wprintf(L"\n");
    double baseCpu = 0, basePeak = 0;
    for (std::size_t k = 0; k < programs.size(); ++k) {
      double cpuMs = 0, peakKiB = 0;
      if (!IdleOne(programs[k], timeoutMs, idleMs, cpuMs, peakKiB)) {
        std::fwprintf(stderr, L"the idle run of %ls failed\n", programs[k].label.c_str());
        return 1;
      }
      if (k == 0) baseCpu = cpuMs, basePeak = peakKiB;
      std::wprintf(L"idle %ls: %.0f ms of CPU in %lu ms, peak working set %.0f KiB", programs[k].label.c_str(), cpuMs,
                   idleMs, peakKiB);
      if (k > 0) std::wprintf(L" (CPU %+.0f ms, working set x%.2f against %ls)", cpuMs - baseCpu, peakKiB / basePeak,
                              programs[0].label.c_str());
      std::wprintf(L"\n");
    }
  }
  return 0;
}
