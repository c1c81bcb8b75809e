// The ports: one small interface per operating-system service that the portable
// code calls on. The Win32 adapters (platform/win32/) call the Windows API;
// tests install fakes where a real call would block or reach outside.
//
// Portable code never includes windows.h; it reaches the OS only through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "errors/ErrHost.h"  // ReportFacts, LocalTime, VersionNumbers

namespace velmora {

// Facts about the machine, the user's locale and the running program: the
// facts of an error report and more.
class SystemFacts : public ReportFacts {
 public:
  virtual uint16_t UserDefaultLangId() = 0;
  // The folder of the running executable, without a trailing backslash.
  virtual std::string ProgramFolder() = 0;
  // The user's folder for temporary files, with a trailing backslash.
  virtual std::string TempFolder() = 0;
  // Whether the process holds an administrator's full rights: an elevated
  // token, or on a system without UAC an administrator's token. True when it
  // cannot be told, since the answer decides what the process may trust.
  virtual bool RunsElevated() = 0;
  // The user's own application data folder on this machine (not roaming),
  // with a trailing backslash.
  virtual std::string LocalAppDataFolder() = 0;
};

// Conversion between the program's text (UTF-8) and the bytes of the system's
// 8-bit ANSI code page, which registry values and ICQ's files are stored in.
class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual std::string ToAnsi(const std::string& utf8) = 0;
  virtual std::string FromAnsi(const std::string& ansi) = 0;
};

// The registry, as advapi32's A functions see it. Keys and value names are ANSI
// bytes. Results are Win32 error codes (0 = success).
class RegistryPort {
 public:
  using Key = uintptr_t;
  virtual ~RegistryPort() = default;
  virtual int32_t OpenKey(Key root, const std::string& subKey, uint32_t options, uint32_t access,
                          Key* result) = 0;
  // With data null: only type and size. size holds the buffer size on entry.
  virtual int32_t QueryValue(Key key, const std::string& name, uint32_t* type, uint8_t* data,
                             uint32_t* size) = 0;
  virtual int32_t CreateKey(Key root, const std::string& subKey, uint32_t options,
                            uint32_t access, Key* result) = 0;
  virtual int32_t SetValue(Key key, const std::string& name, uint32_t type, const uint8_t* data,
                           uint32_t size) = 0;
  virtual int32_t CloseKey(Key key) = 0;
};

// Message boxes. Show returns the answer, the button chosen.
class MessageBoxPort {
 public:
  // The program's kinds of message box, as the style the system takes for
  // them: the buttons and the icon.
  static constexpr uint32_t kOk = 0x00;             // OK, no icon
  static constexpr uint32_t kOkExclamation = 0x30;  // OK, the exclamation mark: a warning
  static constexpr uint32_t kOkInformation = 0x40;  // OK, the "i": for information
  static constexpr uint32_t kYesNo = 0x04;          // Yes and No, no icon
  static constexpr uint32_t kYesNoQuestion = 0x24;  // Yes and No, the question mark
  // Yes and No, where Yes goes on as administrator: Windows marks such a
  // button with its shield. The high bit is ours, no system style; without it
  // the value is the question box shown where a shield cannot be.
  static constexpr uint32_t kYesNoElevate = 0x80000000u | kYesNoQuestion;
  // The answers.
  static constexpr int kAnswerOk = 1;
  static constexpr int kAnswerCancel = 2;
  static constexpr int kAnswerYes = 6;
  static constexpr int kAnswerNo = 7;

  virtual ~MessageBoxPort() = default;
  virtual int Show(const std::string& text, const std::string& title, uint32_t style) = 0;
};

// The error report window: setting the report loads the window if needed, puts
// the text in, shows it and gives it the focus.
class ReportWindowPort {
 public:
  virtual ~ReportWindowPort() = default;
  virtual void SetErrorReport(const std::string& text) = 0;
};

// Files and folders, as kernel32's W functions see them. Paths are the
// program's UTF-8 text; file contents are bytes and are never decoded here.
// Every failure raises the runtime error of its system code
// (RaiseSystemError), which keeps that code for the report.
class FileSystemPort {
 public:
  // Attribute bits, with the values the system uses.
  static constexpr uint32_t kReadOnly = 0x01;
  static constexpr uint32_t kHidden = 0x02;
  static constexpr uint32_t kSystem = 0x04;
  static constexpr uint32_t kDirectory = 0x10;
  static constexpr uint32_t kArchive = 0x20;
  // A junction or symbolic link: its contents lie somewhere else.
  static constexpr uint32_t kReparsePoint = 0x400;
  // What Attributes answers for a path that names nothing.
  static constexpr uint32_t kNoFile = 0xFFFFFFFFu;

  struct Entry {
    std::string name;
    uint32_t attributes = 0;
  };

  virtual ~FileSystemPort() = default;
  // Opens an existing file for reading and returns every byte of it; a
  // missing file raises (53, or 76 when its folder is missing too) and is
  // never created. The string has spare capacity, so that an edit that
  // lengthens it need not copy it.
  virtual std::string ReadWhole(const std::string& path) = 0;
  // Creates a file that must not exist yet, writes the bytes, flushes them to
  // the disk and closes it. A failure leaves nothing of the new file behind.
  virtual void WriteNew(const std::string& path, std::string_view bytes) = 0;
  // Puts the file `from` in the place of `to`, replacing `to` if it exists.
  virtual void MoveOver(const std::string& from, const std::string& to) = 0;
  // Puts the file `from` in the place of the existing file `to`, which keeps
  // its attributes and security; the old `to` is left as `backup` for the
  // caller to remove. Where the system cannot do that here it raises, and
  // both files are as they were; the caller then moves instead. This one
  // never can.
  virtual void ReplaceKeeping(const std::string& from, const std::string& to, const std::string& backup);
  virtual void Remove(const std::string& path) = 0;
  // The attribute bits, or kNoFile when the path names nothing: no such file
  // or folder, and also a name that cannot be there (a malformed name, a
  // drive or network share that is not there). Raises when something there
  // cannot be looked at.
  virtual uint32_t Attributes(const std::string& path) = 0;
  // 0 makes a normal file.
  virtual void SetAttributes(const std::string& path, uint32_t attributes) = 0;
  // Every entry of the folder except "." and "..", in the system's order.
  // A folder that does not exist has none.
  virtual std::vector<Entry> List(const std::string& folder) = 0;
  // Creates the folder; its parent must exist. A folder that exists already
  // is left as it is.
  virtual void MakeFolder(const std::string& path) = 0;
  // The existing folder as the system finds it when it is opened: links,
  // junctions and mount points followed, in the drive-letter form, without
  // a trailing backslash. Empty where the system cannot tell (before Vista).
  // Raises when the folder cannot be opened.
  virtual std::string FinalFolderPath(const std::string& folder);
  // The long form of an existing path (no 8.3 short names); the path as it
  // is where there is none to be had.
  virtual std::string LongPath(const std::string& path);
  // How many names the existing file has (hard links); 1 where the system
  // cannot tell.
  virtual uint32_t LinkCount(const std::string& path);
  // Whether the drive of a path "X:\..." is a fixed or removable disk of
  // this machine (not a network drive, a CD or a RAM disk).
  virtual bool IsLocalDisk(const std::string& path);
};

// The common file-open dialog. `filter` is "label|pattern[|label|pattern...]".
// Returns false when the user cancelled it; raises when it could not be shown.
class FileDialogPort {
 public:
  virtual ~FileDialogPort() = default;
  virtual bool ShowOpen(const std::string& filter, std::string* fileName) = 0;
};

// The clipboard, plain text. Raises when the clipboard cannot be opened.
class ClipboardPort {
 public:
  virtual ~ClipboardPort() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string GetText() = 0;
};

// The shell: hands a document or an address to the program registered for it.
// Results are not looked at: a missing mail program or browser is the
// shell's matter, not an error of this program.
class ShellPort {
 public:
  virtual ~ShellPort() = default;
  // ShellExecuteA(owner, "Open", file, no parameters, the program's folder,
  // normal window), the file in the ANSI code page.
  virtual void ExecuteA(uintptr_t owner, const std::string& file) = 0;
  // ShellExecuteW(owner, "open", address): an address for the browser.
  virtual void OpenAddress(uintptr_t owner, const std::string& address) = 0;
};

// HTTP downloads. The Win32 adapter bounds connect and receive, so that a
// server that never answers ends the download within seconds, and keeps the
// calling window thread's messages flowing while it waits. It follows a
// redirect only within the same scheme, host and port; any other comes back
// as the 3xx answer it is. No logon, cookie or cache takes part.
class HttpPort {
 public:
  struct Response {
    int status = 0;    // the HTTP status; 0 when no answer came
    std::string body;  // at most the bytes asked for
  };
  virtual ~HttpPort() = default;
  // A fresh copy of `url` (never from a cache). Raises when the server
  // cannot be reached or does not answer in time.
  virtual Response Get(const std::string& url, std::size_t maxBytes) = 0;
  // Bracket a dialogue around downloads (a check and the answer it shows).
  // In between, the active window's commands are held off, and a request to
  // close it is kept and made when the dialogue ends, so that the window is
  // never unloaded under the code that waits. Calls nest.
  virtual void BeginDialogue() = 0;
  virtual void EndDialogue() = 0;
};

// Rights to write into a folder, and the way to get more of them: the
// program started again as administrator.
class ElevationPort {
 public:
  struct Outcome {
    bool started = false;    // false: the user declined the system's prompt
    uint32_t exitCode = 0;   // the elevated program's exit code
    std::string report;      // the report the elevated program sent, if any
  };
  virtual ~ElevationPort() = default;
  // Whether this process may create and delete a file of its own in the
  // folder. A folder's read-only attribute says nothing about that.
  virtual bool MayWrite(const std::string& folder) = 0;
  // Whether the process runs with a token that UAC has limited: a filtered
  // administrator's, or a standard user's while UAC is on. Asking for
  // administrator rights can then help; elsewhere (XP, UAC off, a full
  // token) it cannot.
  virtual bool TokenIsLimited() = 0;
  // Starts this program as administrator with the arguments and waits for
  // it to end. The calling window is disabled meanwhile but keeps painting.
  // One more argument follows those given: the name of a channel that only
  // this call reads, through which the elevated program sends the report of
  // a failure (ReportChannelName). Raises when it could not be started for
  // another reason than the user's answer.
  virtual Outcome RunElevated(const std::string& arguments) = 0;
  // 32 lower-case hex digits that no other call, of this process or
  // another, gives: a name nobody can guess or has taken.
  virtual std::string NewToken() = 0;
};

// The ports in use. Pointers are not owned. A port that is not installed raises
// error 91 when it is used. The first call of ThePorts makes the ports the
// error library's host (ErrHost): its reports and messages go through them.
struct Ports {
  SystemFacts* facts = nullptr;
  CodePage* codePage = nullptr;
  RegistryPort* registry = nullptr;
  MessageBoxPort* messageBox = nullptr;
  ReportWindowPort* reportWindow = nullptr;
  FileSystemPort* files = nullptr;
  FileDialogPort* fileDialog = nullptr;
  ClipboardPort* clipboard = nullptr;
  ShellPort* shell = nullptr;
  HttpPort* http = nullptr;
  ElevationPort* elevation = nullptr;
};

Ports& ThePorts();

SystemFacts& Facts();
CodePage& Ansi();
RegistryPort& Registry();
MessageBoxPort& MessageBoxes();
ReportWindowPort& ReportWindow();
FileSystemPort& Files();
FileDialogPort& FileDialog();
ClipboardPort& Clipboard();
ShellPort& Shell();
HttpPort& Http();
ElevationPort& Elevation();

// Windows-1252, the fixed single-byte code page used where the system has none
// (the native build). The five bytes without a character map to the C1 controls
// of the same number, so every byte survives a round trip.
class Windows1252 : public CodePage {
 public:
  std::string ToAnsi(const std::string& utf8) override;
  std::string FromAnsi(const std::string& ansi) override;
};

}  // namespace velmora
