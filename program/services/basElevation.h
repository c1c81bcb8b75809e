// basElevation: the three commands that write into ICQ's folder (remove the
// banners, install the picture, restore the originals), run either by this
// process or, where ICQ's folder needs administrator rights, by the program
// started again as administrator.
//
// The elevated program is started as
//   Velmora.exe /elevated remove-banners "<ICQ folder>" <channel>
//   Velmora.exe /elevated apply "<ICQ folder>" "<bitmap file>" <channel>
//   Velmora.exe /elevated restore "<ICQ folder>" "<backup folder>" <channel>
// It shows no window and runs the same code under the same traps as the
// buttons. It trusts none of it: the paths must be plain paths on a local
// disk, ICQ's folder is reached through no link, and it writes nothing but
// ICQ's files that Velmora changes (basTrust). The report of a failure goes
// to the caller through the channel, a name the caller made and reads
// (ElevationPort::RunElevated); no file is written for it. Exit code 0 on
// success.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class Trap;
class ReportWindowPort;

// The work of each command, shared by the buttons and the elevated program.
// The trap is the calling handler's; these mark its lines.
void RemoveBanners(Trap& trap, const std::string& strICQPath);
void InstallPicture(Trap& trap, const std::string& strICQPath, std::string_view bitmap);
// The files left as they are, because someone else changed them.
std::vector<std::string> RestoreOriginals(Trap& trap, const std::string& strICQPath,
                                          const std::string& strBackupFolder);

// Whether the bytes are a picture as apply installs it: a 24-bit bottom-up
// BMP of 136 x 103 pixels, nothing missing and nothing more.
bool IsInstallableBitmap(std::string_view bytes);

// How a command that writes into ICQ's folder went as far as rights go.
enum class Rights {
  Here,            // this process does the work itself (it may, or asking did not help or was declined)
  DoneElevated,    // the elevated program did the work
  FailedElevated,  // the elevated program failed; its report is shown
};

// Command lines as Windows programs split them: quoting a list of arguments
// and splitting a command line are each other's inverse.
std::string QuoteArguments(const std::vector<std::string>& arguments);
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// A command of the elevated program, checked.
struct ElevatedCommand {
  std::string command;    // "remove-banners", "apply" or "restore"
  std::string icqFolder;  // with a trailing backslash
  std::string bitmapFile, backupFolder;
  std::string reportChannel;  // 32 hex digits
};

// Finds out whether this process may write each folder. Where it may not and
// its token is limited, asks the user and, on Yes, has the elevated program
// run the command of `work` (command, icqFolder, and for restore
// backupFolder; for apply the bitmap goes in a temporary file), waiting for
// it. The caller does the work itself on Here.
Rights WithRights(const std::vector<std::string>& folders, const ElevatedCommand& work, std::string_view bitmap = {});

// WithRights, then the work: `here` when this process is to do it. False
// when the elevated program failed and its report is shown; the command
// ends there.
bool DoWithRights(const std::vector<std::string>& folders, const ElevatedCommand& work,
                  const std::function<void()>& here, std::string_view bitmap = {});

// The arguments after the program's name. False for anything but exactly one
// of the three commands with plain local paths (IsPlainLocalPath) and a
// channel of 32 hex digits.
bool ParseElevatedCommand(const std::vector<std::string>& arguments, ElevatedCommand* out);

// Runs the elevated program's command; returns its exit code: 0 done, 1 failed
// (the report went to `channel`), 2 refused (nothing was changed).
int RunElevatedCommand(const ElevatedCommand& command, ReportWindowPort& channel);

}  // namespace velmora
