// RemoveClBanner end to end (read, three head edits, all-or-nothing rewrite)
// on generated contact-list style files of 1, 8 and 64 MiB with a banner head
// in every block, against a plain copy of the same file in the same run.
//
// The goals, printed after the table:
//   - time linear in size: 8 times the size within 10 times the time;
//   - 64 MiB within 4 times a plain copy of the same file. Three copies are
//     measured: streamed through a small buffer; the same, flushed to disk
//     (the rewrite must flush before it replaces the old file); read whole
//     into memory and flushed (what any whole-file rewrite does at least).
//   - peak heap within 4 times the file size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include "PosixFiles.h"
#include "platform/Ports.h"
#include "theme/clsKorvanel.h"

// ---- heap accounting: live bytes and their peak ---------------------------

namespace {
std::size_t g_live = 0;
std::size_t g_peak = 0;

void* Allocate(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  g_live += malloc_usable_size(p);
  if (g_live > g_peak) g_peak = g_live;
  return p;
}

void Free(void* p) {
  if (!p) return;
  g_live -= malloc_usable_size(p);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace {

using namespace velmora;

constexpr std::size_t kMiB = 1u << 20;

// One block of a contact-list style file: some resources and styles, the
// three banner heads among them. About 1 KiB; the heads recur in every block.
const std::string kBlock =
    "\t<bitmap id=\"image.mainBg\" src=\"main_bg.png\" />\r\n"
    "\t<bitmap id=\"image.icqBanner.bg\" src=\"banner_bg.png\" tile=\"false\" />\r\n"
    "\t<style id=\"mainPanelStyle\" fill=\"url(#image.mainBg)\" padding=\"2 2 2 2\" />\r\n"
    "\t<style id=\"adContainerBoxStyle\" marginLeft=\"4\" marginTop=\"2\" width=\"126\" height=\"96\" >\r\n"
    "\t\t<style id=\"adBoxStyle\" width=\"120\" height=\"90\" />\r\n"
    "\t</style>\r\n"
    "\t<style id=\"contactListStyle\" font=\"Tahoma 8pt\" rowHeight=\"18\" color=\"#000000\" />\r\n"
    "\t<style id=\"groupHeaderStyle\" font=\"Tahoma 8pt bold\" height=\"20\" fill=\"#E8E8F0\" />\r\n"
    "\t<style id=\"statusBarStyle\" height=\"22\" fill=\"url(#image.statusIcons)\" />\r\n"
    "\t<!-- Kontaktliste \x96 Hauptfenster \xBB Werbefl\xE4" "che -->\r\n"
    "\t<style id=\"searchBoxStyle\" height=\"22\" margin=\"2 2 2 2\" border=\"1\" borderColor=\"#A0A0B0\" />\r\n"
    "\t<style id=\"toolbarStyle\" height=\"28\" paddingLeft=\"3\" paddingRight=\"3\" />\r\n"
    "\t<style id=\"tabStyle\" height=\"24\" font=\"Tahoma 8pt\" hAlign=\"center\" />\r\n"
    "\t<style id=\"tooltipStyle\" fill=\"#FFFFE1\" border=\"1\" padding=\"3 3 3 3\" />\r\n";

const std::string& StyleFile(std::size_t mib) {
  static std::map<std::size_t, std::string> files;
  std::string& text = files[mib];
  if (text.empty()) {
    text = "<?xml version=\"1.0\"?>\r\n<styles>\r\n";
    while (text.size() + kBlock.size() < mib * kMiB) text += kBlock;
    text += "</styles>\r\n";
  }
  return text;
}

std::string g_folder;

// Flushed, so that no dirty page of the set-up is written out in the time
// of what is measured next.
void WriteFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  ::fsync(fd);
  ::close(fd);
}

enum class Copy { Streamed, StreamedFlushed, WholeFlushed };

// What a copy costs without any editing: read the file, write a new one.
// Streamed through a small buffer, or read whole into memory first as the
// rewrite has to; flushed to disk as the rewrite does, or not.
void PlainCopy(const std::string& from, const std::string& to, Copy how) {
  static char buffer[1 << 20];
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) std::abort();
  if (how == Copy::WholeFlushed) {
    std::string whole(static_cast<std::size_t>(::lseek(in, 0, SEEK_END)), '\0');
    if (::pread(in, whole.data(), whole.size(), 0) != static_cast<ssize_t>(whole.size())) std::abort();
    if (::write(out, whole.data(), whole.size()) != static_cast<ssize_t>(whole.size())) std::abort();
  } else {
    for (ssize_t got; (got = ::read(in, buffer, sizeof buffer)) > 0;)
      if (::write(out, buffer, static_cast<std::size_t>(got)) != got) std::abort();
  }
  if (how != Copy::Streamed) ::fsync(out);
  ::close(in);
  ::close(out);
}

void BM_RemoveClBanner(benchmark::State& state) {
  const std::size_t mib = static_cast<std::size_t>(state.range(0));
  const std::string& original = StyleFile(mib);
  const std::string path = g_folder + "/MainDlgPanelOwner.style.box";
  clsKorvanel korvanel;
  korvanel.ClThemeFile(path);
  std::size_t peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, original);
    const std::size_t before = g_live;
    g_peak = g_live;
    state.ResumeTiming();
    if (!korvanel.RemoveClBanner()) state.SkipWithError("nothing removed");
    state.PauseTiming();
    if (g_peak - before > peak) peak = g_peak - before;
    state.ResumeTiming();
  }
  state.counters["peak_per_size"] = static_cast<double>(peak) / static_cast<double>(original.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * original.size()));
}

void CopyBenchmark(benchmark::State& state, Copy how) {
  const std::size_t mib = static_cast<std::size_t>(state.range(0));
  const std::string from = g_folder + "/source.style.box", to = g_folder + "/copy.style.box";
  WriteFile(from, StyleFile(mib));
  // Over an existing file of that size, as the rewrite replaces one: giving
  // its blocks back is part of the cost on either side.
  WriteFile(to, StyleFile(mib));
  for (auto _ : state) PlainCopy(from, to, how);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StyleFile(mib).size()));
}

void BM_CopyStreamed(benchmark::State& state) { CopyBenchmark(state, Copy::Streamed); }
void BM_CopyStreamedFlushed(benchmark::State& state) { CopyBenchmark(state, Copy::StreamedFlushed); }
void BM_CopyWholeFlushed(benchmark::State& state) { CopyBenchmark(state, Copy::WholeFlushed); }

BENCHMARK(BM_RemoveClBanner)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CopyStreamed)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CopyStreamedFlushed)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CopyWholeFlushed)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Passes the table through and keeps each run's time per iteration and
// counters for the ratios printed at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, Run> runs;
  void ReportRuns(const std::vector<Run>& report) override {
    for (const Run& run : report) runs[run.run_name.function_name + "/" + run.run_name.args] = run;
    ConsoleReporter::ReportRuns(report);
  }
};

void Goal(const char* what, double value, double limit) {
  std::printf("  %-48s %7.2f  (goal <= %.0f) %s\n", what, value, limit, value <= limit ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  char folder[] = "/tmp/velmora-bench-XXXXXX";
  if (!::mkdtemp(folder)) return 1;
  g_folder = folder;
  static bench::PosixFiles files;
  static Windows1252 codePage;
  ThePorts().files = &files;
  ThePorts().codePage = &codePage;

  // Every large block comes fresh from the system and goes back when freed,
  // as it does in the program, which runs the edit once per click (and as
  // the Windows heap does with blocks this size). Left alone, glibc would
  // keep freed blocks below 32 MiB for the next iteration and the small files
  // would look cheaper per byte than the large one.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);

  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const auto time = [&](const std::string& name) {
    const auto it = reporter.runs.find(name);
    return it == reporter.runs.end() ? 0.0 : it->second.GetAdjustedRealTime();
  };
  const auto counter = [&](const std::string& name, const char* key) {
    const auto it = reporter.runs.find(name);
    return it == reporter.runs.end() ? 0.0 : static_cast<double>(it->second.counters.at(key));
  };
  const double t1 = time("BM_RemoveClBanner/1"), t8 = time("BM_RemoveClBanner/8"),
               t64 = time("BM_RemoveClBanner/64");
  const double streamed = time("BM_CopyStreamed/64"),
               streamedFlushed = time("BM_CopyStreamedFlushed/64"),
               wholeFlushed = time("BM_CopyWholeFlushed/64");
  if (t1 > 0 && t8 > 0 && t64 > 0 && streamed > 0 && streamedFlushed > 0 && wholeFlushed > 0) {
    std::printf("\nRemoveClBanner against its goals:\n");
    Goal("time 8 MiB / time 1 MiB", t8 / t1, 10);
    Goal("time 64 MiB / time 8 MiB", t64 / t8, 10);
    Goal("time 64 MiB / copy streamed, 64 MiB", t64 / streamed, 4);
    Goal("time 64 MiB / copy streamed and flushed, 64 MiB", t64 / streamedFlushed, 4);
    Goal("time 64 MiB / copy read whole and flushed, 64 MiB", t64 / wholeFlushed, 4);
    for (const char* size : {"1", "8", "64"})
      Goal((std::string("peak heap / file size, ") + size + " MiB").c_str(),
           counter(std::string("BM_RemoveClBanner/") + size, "peak_per_size"), 4);
  }

  for (const char* name : {"/MainDlgPanelOwner.style.box", "/source.style.box", "/copy.style.box"})
    ::unlink((g_folder + name).c_str());
  ::rmdir(folder);
  return 0;
}
