// Runtime error numbers and texts, and the mapping of system last-error codes
// to the runtime error a failed file or registry call gives.
#include <map>

#include "errors/ErrChain.h"

namespace velmora {

std::string RuntimeErrorText(int32_t number) {
  static const std::map<int32_t, const char*> texts = {
      {3, "Return without GoSub"},
      {5, "Invalid procedure call or argument"},
      {6, "Overflow"},
      {7, "Out of memory"},
      {9, "Subscript out of range"},
      {10, "This array is fixed or temporarily locked"},
      {11, "Division by zero"},
      {13, "Type mismatch"},
      {14, "Out of string space"},
      {28, "Out of stack space"},
      {48, "Error in loading DLL"},
      {51, "Internal error"},
      {52, "Bad file name or number"},
      {53, "File not found"},
      {54, "Bad file mode"},
      {55, "File already open"},
      {57, "Device I/O error"},
      {58, "File already exists"},
      {61, "Disk full"},
      {62, "Input past end of file"},
      {67, "Too many files"},
      {68, "Device unavailable"},
      {70, "Permission denied"},
      {71, "Disk not ready"},
      {74, "Can't rename with different drive"},
      {75, "Path/File access error"},
      {76, "Path not found"},
      {91, "Object variable or With block variable not set"},
      {94, "Invalid use of Null"},
      {424, "Object required"},
      {429, "ActiveX component can't create object"},
      {430, "Class does not support Automation or does not support expected interface"},
      {438, "Object doesn't support this property or method"},
      {440, "Automation error"},
      {445, "Object doesn't support this action"},
      {449, "Argument not optional"},
      {450, "Wrong number of arguments or invalid property assignment"},
      {481, "Invalid picture"},
  };
  const auto it = texts.find(number);
  return it != texts.end() ? it->second : "Application-defined or object-defined error";
}

int32_t RuntimeErrorForSystemCode(uint32_t lastError) {
  switch (lastError) {
    case 2:    // ERROR_FILE_NOT_FOUND
      return RuntimeError::kFileNotFound;
    case 3:    // ERROR_PATH_NOT_FOUND
    case 15:   // ERROR_INVALID_DRIVE
    case 123:  // ERROR_INVALID_NAME
    case 161:  // ERROR_BAD_PATHNAME
    case 206:  // ERROR_FILENAME_EXCED_RANGE
    case 267:  // ERROR_DIRECTORY
      return RuntimeError::kPathNotFound;
    case 5:    // ERROR_ACCESS_DENIED
      return RuntimeError::kPathFileAccess;
    case 19:   // ERROR_WRITE_PROTECT
    case 32:   // ERROR_SHARING_VIOLATION
    case 33:   // ERROR_LOCK_VIOLATION
      return RuntimeError::kPermissionDenied;
    case 39:   // ERROR_HANDLE_DISK_FULL
    case 112:  // ERROR_DISK_FULL
      return RuntimeError::kDiskFull;
    case 8:    // ERROR_NOT_ENOUGH_MEMORY
    case 14:   // ERROR_OUTOFMEMORY
      return RuntimeError::kOutOfMemory;
    case 4:    // ERROR_TOO_MANY_OPEN_FILES
      return RuntimeError::kTooManyFiles;
    case 21:   // ERROR_NOT_READY
      return RuntimeError::kDiskNotReady;
    case 17:   // ERROR_NOT_SAME_DEVICE
      return RuntimeError::kRenameAcrossDrives;
    case 80:   // ERROR_FILE_EXISTS
    case 183:  // ERROR_ALREADY_EXISTS
      return RuntimeError::kFileAlreadyExists;
    case 23:   // ERROR_CRC
    case 30:   // ERROR_READ_FAULT
    case 29:   // ERROR_WRITE_FAULT
    case 1117: // ERROR_IO_DEVICE
      return RuntimeError::kDeviceIoError;
    default:
      return RuntimeError::kInvalidCall;
  }
}

}  // namespace velmora
