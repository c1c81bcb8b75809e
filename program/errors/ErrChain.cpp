#include "errors/ErrChain.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "errors/ErrHost.h"
#include "errors/ErrReport.h"

namespace velmora {
namespace {

// The library's state exists once for the whole program; it is used from the
// user-interface thread only and captures never overlap.
ErrObject g_err;
PreservedErrRecord g_preserved;
std::string g_reportText;
std::string g_valueDumps;
ErrHost* g_host = nullptr;

const char* const kLostErrorText =
    "ErrorIn: Error information was lost. "
    "To fix: call ErrPreserve before doing anything in error handler.";

// Makes the exception in flight the current error, as the runtime would have
// filled it on entry to the trap.
void CaptureException(std::exception_ptr error, int32_t line) {
  g_err.Clear();
  try {
    std::rethrow_exception(error);
  } catch (const VbError& e) {
    g_err.Number = e.Number();
    g_err.Source = e.Source();
    g_err.Description = e.Description();
    g_err.HelpFile = e.HelpFile();
    g_err.HelpContext = e.HelpContext();
    g_err.LastDllError = e.LastDllError();
  } catch (...) {
    int32_t number = RuntimeError::kInvalidCall;
    try {
      throw;
    } catch (const std::bad_alloc&) {
      number = RuntimeError::kOutOfMemory;
    } catch (const std::out_of_range&) {
      number = RuntimeError::kSubscriptOutOfRange;
    } catch (const std::overflow_error&) {
      number = RuntimeError::kOverflow;
    } catch (const std::range_error&) {
      number = RuntimeError::kOverflow;
    } catch (...) {
    }
    g_err.Number = number;
    g_err.Source = APP_TITLE;
    g_err.Description = RuntimeErrorText(number);
  }
  g_err.Line = line;
}

bool IsUserMessageNumber(int32_t n) { return n >= ERR_USER_MESSAGE_FIRST && n <= ERR_USER_MESSAGE_LAST; }

}  // namespace

void SetErrHost(ErrHost* host) { g_host = host; }
ErrHost* CurrentErrHost() { return g_host; }

ErrHost& RequiredErrHost() {
  if (!g_host) RaiseRuntime(RuntimeError::kObjectNotSet);
  return *g_host;
}

ErrObject& Err() { return g_err; }
PreservedErrRecord& PreservedErr() { return g_preserved; }
std::string& ReportText() { return g_reportText; }
std::string& ValueDumps() { return g_valueDumps; }

VbError::VbError(int32_t number, std::string source, std::string description, std::string helpFile,
                 int32_t helpContext, int32_t lastDllError)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      helpFile_(std::move(helpFile)),
      helpContext_(helpContext),
      lastDllError_(lastDllError) {}

void Raise(int32_t number, const std::string& source, const std::string& description) {
  throw VbError(number, source, description);
}

void RaiseRuntime(int32_t number, int32_t lastDllError) {
  throw VbError(number, APP_TITLE, RuntimeErrorText(number), {}, 0, lastDllError);
}

void RaiseSystemError(uint32_t lastError) {
  RaiseRuntime(RuntimeErrorForSystemCode(lastError), static_cast<int32_t>(lastError));
}

bool IsUserMessage() { return IsUserMessageNumber(g_preserved.Number); }

bool IsPropagated() { return g_preserved.Source == PROPAGATION_MARKER; }

void ErrPreserve() {
  if (g_err.Number == 0 || g_preserved.Preserved) return;
  g_preserved.Number = g_err.Number;
  g_preserved.Description = g_err.Description;
  g_preserved.Source = g_err.Source;
  g_preserved.HelpFile = g_err.HelpFile;
  g_preserved.HelpContext = std::to_string(g_err.HelpContext);
  g_preserved.Line = g_err.Line;
  g_preserved.LastDllError = g_err.LastDllError;
  g_preserved.Preserved = true;
}

void ErrRestore() {
  if (!g_preserved.Preserved) return;
  g_err.Clear();
  g_err.Number = g_preserved.Number;
  g_err.Source = g_preserved.Source;
  g_err.Description = g_preserved.Description;
  if (!g_preserved.HelpContext.empty()) {
    try {
      g_err.HelpContext = std::stoi(g_preserved.HelpContext);
    } catch (...) {
    }
  }
  g_err.HelpFile = g_preserved.HelpFile;
}

void SplitMethodName(const std::string& MethodName, std::string& baseName, std::string& paramNames) {
  baseName.clear();
  paramNames.clear();
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t open = MethodName.find('(', start);
    pieces.push_back(MethodName.substr(start, open == std::string::npos ? std::string::npos : open - start));
    if (open == std::string::npos) break;
    start = open + 1;
  }
  if (pieces.empty()) return;
  baseName = pieces[0];
  if (pieces.size() < 2 || pieces[1].empty()) return;
  paramNames = pieces[1].substr(0, pieces[1].size() - 1);
}

std::string ErrorIn(const Trap& trap, const Value& Params, int32_t Options) {
  if (std::exception_ptr inFlight = std::current_exception()) CaptureException(inFlight, trap.Line());

  if (g_err.Number == 0 && !g_preserved.Preserved) {
    g_err.Number = ERRMAP_APP_FIRST;
    g_err.Description = kLostErrorText;
  }
  ErrPreserve();

  std::string result;
  if (IsUserMessage()) {
    g_reportText.clear();
  } else {
    if (Options & ERRIN_REPORT) {
      std::string baseName, paramNames;
      try {
        SplitMethodName(trap.MethodName(), baseName, paramNames);
      } catch (...) {
      }
      if (IsPropagated()) {
        g_reportText = g_preserved.Description;
      } else {
        BuildReportHeader(baseName);
        AppendApiError();
      }
      AppendCallStackLine(baseName, paramNames, Params);
      g_preserved.Source = PROPAGATION_MARKER;
      g_preserved.Description = g_reportText;
      result = g_reportText;
    }
  }

  ErrRestore();
  g_preserved.Preserved = false;

  if (Options & ERRIN_RAISE) {
    throw VbError(g_err.Number, g_err.Source, g_err.Description, g_err.HelpFile, g_err.HelpContext);
  }
  return result;
}

void ErrorIn(const Trap& trap, const Value& Params, PassOnOptions Options) {
  ErrorIn(trap, Params, Options.bits | ERRIN_RAISE);
  // Not reached: the raise bit is always set.
  std::terminate();
}

std::string ErrReportText() {
  if (!g_reportText.empty()) return g_reportText;
  if (IsPropagated()) return g_err.Description;
  return {};
}

void ShowUserMessage(const std::string& text) { RequiredErrHost().ShowMessage(text, APP_TITLE); }

void ErrShow(bool /*Modal*/) {
  // Every caller passes false: the report window is modeless unless a modal
  // window is open, which the window itself decides.
  if (IsUserMessage()) {
    if (g_preserved.Number != ERR_SILENT) ShowUserMessage(g_err.Description);
    return;
  }
  RequiredErrHost().ShowReport(ErrReportText());
}

}  // namespace velmora
