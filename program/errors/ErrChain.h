// ErrChain: the error library. Every trapped procedure hands its failure to
// ErrorIn, which starts or extends the plain-text error report and either raises
// the same error to the caller (inner procedures) or returns so that the event
// handler can show the report with ErrShow.
//
// A trapped procedure looks like this:
//
//   std::string clsFile::OpenForInput(const std::string& strPath) {
//     Trap trap("clsFile.OpenForInput(strPath)");
//     try {
//       trap.at(10);
//       ...
//       trap.at(20);
//       ...
//     } catch (...) {
//       ErrorIn(trap, strPath, ERRIN_PASS_ON);
//     }
//   }
//
// and an event handler ends the chain with
//
//     } catch (...) {
//       ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
//       ErrShow(false);
//     }
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "errors/Value.h"

namespace velmora {

// Error numbers (32-bit signed).
inline constexpr int32_t vbObjectError = static_cast<int32_t>(0x80040000);
inline constexpr int32_t ERRMAP_APP_FIRST = static_cast<int32_t>(0x8004144E);
inline constexpr int32_t ERR_USER_MESSAGE_FIRST = static_cast<int32_t>(0x80041065);
inline constexpr int32_t ERR_USER_MESSAGE_LAST = static_cast<int32_t>(0x8004144D);
inline constexpr int32_t ERR_SILENT = static_cast<int32_t>(0x80041068);

// Options of ErrorIn. Bits 8 and 32 are carried by the two values the program
// passes but do nothing.
inline constexpr int32_t ERRIN_RAISE = 1;
inline constexpr int32_t ERRIN_REPORT = 2;

// 43: add to the report and raise to the caller. A distinct type, so that the
// overload that takes it can be [[noreturn]].
struct PassOnOptions {
  int32_t bits;
};
inline constexpr PassOnOptions ERRIN_PASS_ON{43};
// 42: add to the report and return; the event handler then calls ErrShow(false).
inline constexpr int32_t ERRIN_END_OF_CHAIN = 42;

// The propagation marker: the source of an error whose description is the
// report built so far.
inline constexpr const char* PROPAGATION_MARKER = "ErrChain.ErrorIn";

// The program's current error.
struct ErrObject {
  int32_t Number = 0;
  std::string Source;
  std::string Description;
  std::string HelpFile;
  int32_t HelpContext = 0;
  int32_t Line = 0;
  int32_t LastDllError = 0;

  void Clear() { *this = ErrObject{}; }
};

ErrObject& Err();

// The exception that carries a raised error from the raise to the next trap.
class VbError : public std::exception {
 public:
  VbError(int32_t number, std::string source, std::string description, std::string helpFile = {},
          int32_t helpContext = 0, int32_t lastDllError = 0);
  const char* what() const noexcept override { return description_.c_str(); }

  int32_t Number() const { return number_; }
  const std::string& Source() const { return source_; }
  const std::string& Description() const { return description_; }
  const std::string& HelpFile() const { return helpFile_; }
  int32_t HelpContext() const { return helpContext_; }
  int32_t LastDllError() const { return lastDllError_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
  std::string helpFile_;
  int32_t helpContext_;
  int32_t lastDllError_;
};

// The runtime errors the program raises, by name. RuntimeErrorText has their
// texts, RuntimeErrorForSystemCode maps system codes to them.
namespace RuntimeError {
inline constexpr int32_t kInvalidCall = 5;  // Invalid procedure call or argument
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kDeviceIoError = 57;
inline constexpr int32_t kFileAlreadyExists = 58;
inline constexpr int32_t kDiskFull = 61;
inline constexpr int32_t kTooManyFiles = 67;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kDiskNotReady = 71;
inline constexpr int32_t kRenameAcrossDrives = 74;  // Can't rename with different drive
inline constexpr int32_t kPathFileAccess = 75;      // Path/File access error
inline constexpr int32_t kPathNotFound = 76;
inline constexpr int32_t kObjectNotSet = 91;  // Object variable or With block variable not set
inline constexpr int32_t kCantCreateObject = 429;  // ActiveX component can't create object
inline constexpr int32_t kNoSuchMember = 438;  // Object doesn't support this property or method
inline constexpr int32_t kInvalidPicture = 481;
}  // namespace RuntimeError

// The program's name: the source of runtime errors and the title of every
// message box.
inline constexpr const char* APP_TITLE = "Velmora";

[[noreturn]] void Raise(int32_t number, const std::string& source, const std::string& description);
// Raises a runtime error with its standard text and the program as source,
// e.g. RaiseRuntime(RuntimeError::kPathNotFound) raises 76 "Path not found".
[[noreturn]] void RaiseRuntime(int32_t number, int32_t lastDllError = 0);
// Raises the runtime error that a failed system call with this last-error code
// gives, and records the code as the error's last system error.
[[noreturn]] void RaiseSystemError(uint32_t lastError);
// The runtime error number for a system last-error code (53, 76, 75, 70, 61 …;
// 5 for codes without a closer match).
int32_t RuntimeErrorForSystemCode(uint32_t lastError);
// The standard text of a runtime error number, or "Application-defined or
// object-defined error" for a number without one.
std::string RuntimeErrorText(int32_t number);

// The trap of one procedure: its literal name and the label of the last
// numbered statement that ran. Costs a pointer and an integer on the stack.
class Trap {
 public:
  explicit constexpr Trap(const char* methodName) noexcept : name_(methodName) {}
  // Line label: marks the statements that follow as line `label`.
  void at(int32_t label) noexcept { line_ = label; }
  const char* MethodName() const noexcept { return name_; }
  int32_t Line() const noexcept { return line_; }

 private:
  const char* name_;
  int32_t line_ = 0;
};

// Captures the failure (the exception in flight, if any, else the current
// error as it stands), builds or extends the report, and raises or returns.
// Returns ReportText when ERRIN_REPORT is set, else an empty string.
std::string ErrorIn(const Trap& trap, const Value& Params, int32_t Options);
[[noreturn]] void ErrorIn(const Trap& trap, const Value& Params, PassOnOptions Options);

void ErrPreserve();
void ErrRestore();
void ErrShow(bool Modal);

struct PreservedErrRecord {
  int32_t Number = 0;
  std::string Source;
  std::string Description;
  int32_t Line = 0;
  std::string HelpFile;
  std::string HelpContext;
  int32_t LastDllError = 0;
  bool Preserved = false;
};

PreservedErrRecord& PreservedErr();

// An event handler: runs `body` under the handler's trap; a failure ends the
// chain there (42) and the report is shown. The body marks its lines on the
// trap it is given.
template <typename Body>
void RunEvent(const char* handlerName, Body&& body) {
  Trap trap(handlerName);
  try {
    body(trap);
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_END_OF_CHAIN);
    ErrShow(false);
  }
}
// The report being built; keeps the last report until the next capture.
std::string& ReportText();
// The long-value blocks of one call-stack line.
std::string& ValueDumps();

bool IsUserMessage();
bool IsPropagated();
std::string ErrReportText();
void ShowUserMessage(const std::string& text);
// Splits "module.procedure(name1,name2)" into base name and parameter-name list.
void SplitMethodName(const std::string& MethodName, std::string& baseName, std::string& paramNames);

}  // namespace velmora
