#include "services/basElevation.h"

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "services/basMain.h"
#include "services/clsBackup.h"
#include "services/basTrust.h"
#include "services/clsFile.h"
#include "theme/clsKorvanel.h"

namespace velmora {
namespace {

constexpr int kTempNameTries = 3;

uint32_t LittleEndian(std::string_view bytes, std::size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

bool IsPlainFile(uint32_t attributes) {
  return attributes != FileSystemPort::kNoFile && (attributes & FileSystemPort::kDirectory) == 0;
}

// A new file of this program in the user's temporary folder. Its name is
// one nobody has used, so that files an earlier run left there (killed
// before it could remove them) never stand in its way.
std::string NewTempFile(const std::string& kind, std::string_view bytes) {
  const std::string folder = Facts().TempFolder();
  for (int n = 1;; ++n) {
    const std::string path = folder + "Velmora-" + kind + "-" + Elevation().NewToken() + ".tmp";
    try {
      Files().WriteNew(path, bytes);
      return path;
    } catch (const VbError& e) {
      if (e.Number() != RuntimeError::kFileAlreadyExists || n == kTempNameTries) throw;
    }
  }
}

void RemoveQuietly(const std::string& path) {
  try {
    if (!path.empty()) Files().Remove(path);
  } catch (...) {
    // A file left in the temporary folder harms nobody.
  }
}

// The elevated program's report window: the report goes to the caller
// through the channel it named, and the exit code says whether one went.
class ReportToCaller : public ReportWindowPort {
 public:
  explicit ReportToCaller(ReportWindowPort& channel) : channel_(channel) {}
  void SetErrorReport(const std::string& text) override {
    written = true;
    try {
      channel_.SetErrorReport(text);
    } catch (...) {
      // The exit code still tells the caller that the command failed.
    }
  }
  bool written = false;

 private:
  ReportWindowPort& channel_;
};

bool IsToken(const std::string& text) {
  if (text.size() != 32) return false;
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string ShownFolder(std::string folder) {
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace

void RemoveBanners(Trap& trap, const std::string& strICQPath) {
  trap.at(40);
  Korvanel().UseFolder(strICQPath);
  Korvanel().RemoveMsgBanner();
  trap.at(50);
  Korvanel().RemoveClBanner();
  trap.at(60);
  Korvanel().ClearDefaultsFolder();
}

void InstallPicture(Trap& trap, const std::string& strICQPath, std::string_view bitmap) {
  trap.at(40);
  ReplaceWhole(strICQPath + PictureFile(), bitmap);
}

std::vector<std::string> RestoreOriginals(Trap& trap, const std::string& strICQPath,
                                          const std::string& strBackupFolder) {
  trap.at(40);
  return clsBackup().Restore(strICQPath, strBackupFolder);
}

bool IsInstallableBitmap(std::string_view bytes) {
  constexpr uint32_t kWidth = 136, kHeight = 103, kHeaders = 54;
  constexpr uint32_t kSize = kHeaders + kWidth * 3 * kHeight;  // rows of 408 bytes need no padding
  if (bytes.size() != kSize || bytes[0] != 'B' || bytes[1] != 'M') return false;
  return LittleEndian(bytes, 2, 4) == kSize && LittleEndian(bytes, 10, 4) == kHeaders &&
         LittleEndian(bytes, 14, 4) == 40 && LittleEndian(bytes, 18, 4) == kWidth &&
         LittleEndian(bytes, 22, 4) == kHeight && LittleEndian(bytes, 26, 2) == 1 && LittleEndian(bytes, 28, 2) == 24 &&
         LittleEndian(bytes, 30, 4) == 0;
}

Rights WithRights(const std::vector<std::string>& folders, const ElevatedCommand& work, std::string_view bitmap) {
  ElevationPort& elevation = Elevation();
  bool mayWrite = true;
  for (const std::string& folder : folders) mayWrite = mayWrite && elevation.MayWrite(folder);
  // Where the token is not limited, asking cannot bring more rights: the
  // work fails here and says why.
  if (mayWrite || !elevation.TokenIsLimited()) return Rights::Here;
  const std::string folder = ShownFolder(work.icqFolder);
  const std::string question = ByLanguage(
      "Velmora benötigt Administratorrechte, um die Dateien von ICQ in " + folder +
          " zu ändern. Als Administrator fortfahren?",
      "Velmora needs administrator rights to change ICQ's files in " + folder + ". Continue as administrator?");
  if (MessageBoxes().Show(question, APP_TITLE, MessageBoxPort::kYesNoElevate) != MessageBoxPort::kAnswerYes)
    return Rights::Here;

  // The folder as the system resolves it: the elevated program takes no
  // other spelling, nor one that leads elsewhere.
  std::vector<std::string> arguments = {"/elevated", work.command, CanonicalFolder(work.icqFolder)};
  std::string bitmapFile;
  ElevationPort::Outcome outcome;
  try {
    if (work.command == "apply") arguments.push_back(bitmapFile = NewTempFile("picture", bitmap));
    if (work.command == "restore") arguments.push_back(work.backupFolder);
    outcome = elevation.RunElevated(QuoteArguments(arguments));
  } catch (...) {
    RemoveQuietly(bitmapFile);
    throw;
  }
  RemoveQuietly(bitmapFile);
  const std::string& report = outcome.report;
  // A declined prompt is a No.
  if (!outcome.started) return Rights::Here;
  if (outcome.exitCode == 0) return Rights::DoneElevated;
  if (report.empty())
    Raise(RuntimeError::kInvalidCall, APP_TITLE,
          "Velmora as administrator ended with exit code " + std::to_string(outcome.exitCode) + " and gave no report");
  ReportWindow().SetErrorReport(report);
  return Rights::FailedElevated;
}

bool DoWithRights(const std::vector<std::string>& folders, const ElevatedCommand& work,
                  const std::function<void()>& here, std::string_view bitmap) {
  switch (WithRights(folders, work, bitmap)) {
    case Rights::Here: here(); return true;
    case Rights::DoneElevated: return true;
    case Rights::FailedElevated: break;
  }
  return false;
}

std::string QuoteArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : argument) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      // Backslashes before a quote are escapes; doubled, they stand for
      // themselves, and the quote gets one of its own.
      line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    // Before the closing quote, too: a folder's final backslash would
    // otherwise swallow it.
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) return arguments;
    std::string argument;
    bool quoted = false;
    while (i < line.size()) {
      const char c = line[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        std::size_t n = 0;
        for (; i < line.size() && line[i] == '\\'; ++i) ++n;
        const bool beforeQuote = i < line.size() && line[i] == '"';
        argument.append(beforeQuote ? n / 2 : n, '\\');
        if (beforeQuote && n % 2 == 1) {
          argument += '"';
          ++i;
        }
      } else if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          argument += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += c;
        ++i;
      }
    }
    arguments.push_back(std::move(argument));
  }
}

bool ParseElevatedCommand(const std::vector<std::string>& arguments, ElevatedCommand* out) {
  if (arguments.size() < 2 || arguments[0] != "/elevated") return false;
  ElevatedCommand c;
  c.command = arguments[1];
  std::vector<std::string*> paths = {&c.icqFolder};
  if (c.command == "apply") paths.push_back(&c.bitmapFile);
  else if (c.command == "restore") paths.push_back(&c.backupFolder);
  else if (c.command != "remove-banners") return false;
  if (arguments.size() != paths.size() + 3 || !IsToken(arguments.back())) return false;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (!IsPlainLocalPath(arguments[i + 2])) return false;
    *paths[i] = arguments[i + 2];
  }
  c.reportChannel = arguments.back();
  if (c.icqFolder.back() != '\\') c.icqFolder += '\\';
  if (!c.backupFolder.empty() && c.backupFolder.back() != '\\') c.backupFolder += '\\';
  *out = std::move(c);
  return true;
}

int RunElevatedCommand(const ElevatedCommand& command, ReportWindowPort& channel) {
  FileSystemPort& files = Files();
  std::string bitmap;
  // Refused before anything is touched: a folder without ICQ, or one reached
  // through a link; a picture that is not one apply makes; a restore whose
  // index is not a backup of this folder or names anything but ICQ's files
  // that Velmora changes.
  try {
    // The picture and the backup are only read, from the caller's own
    // folders, which are on a disk of this machine too: no share is asked
    // for them with the administrator's name.
    for (const std::string* path : {&command.bitmapFile, &command.backupFolder})
      if (!path->empty() && !files.IsLocalDisk(*path)) return 2;
    CheckNoLinkOnTheWay(files, command.icqFolder + "ICQ.exe");
    if (!IsPlainFile(files.Attributes(command.icqFolder + "ICQ.exe"))) return 2;
    if (command.command == "apply") {
      bitmap = files.ReadWhole(command.bitmapFile);
      if (!IsInstallableBitmap(bitmap)) return 2;
    }
    // The folders the command writes in, each reached through no link.
    std::vector<std::string> folders;
    if (command.command == "remove-banners") {
      folders = {command.icqFolder + kMsgStyleFile, command.icqFolder + kClStyleFile,
                 command.icqFolder + kDefaultsFolder};
    } else if (command.command == "apply") {
      folders = {command.icqFolder + PictureFile()};
    } else {
      // Reading the index judges it: one of another folder, or one that
      // names anything else, is refused whole here.
      folders = clsBackup::RestoreFolders(command.icqFolder, command.backupFolder);
    }
    for (const std::string& folder : folders) CheckNoLinkOnTheWay(files, folder);
  } catch (...) {
    return 2;
  }

  // Every write, creation and deletion from here on is checked right before
  // it is done.
  GuardedFiles guarded(files, command.icqFolder);
  ReportToCaller report(channel);
  const Ports saved = ThePorts();
  ThePorts().files = &guarded;
  ThePorts().reportWindow = &report;
  if (command.command == "remove-banners") {
    RunEvent("frmMain.qbtnRemoveBanner_Click", [&](Trap& trap) { RemoveBanners(trap, command.icqFolder); });
  } else if (command.command == "apply") {
    RunEvent("frmMain.qbtnApply_Click", [&](Trap& trap) { InstallPicture(trap, command.icqFolder, bitmap); });
  } else {
    RunEvent("frmSettings.cmdRestore_Click",
             [&](Trap& trap) { RestoreOriginals(trap, command.icqFolder, command.backupFolder); });
  }
  ThePorts().files = saved.files;
  ThePorts().reportWindow = saved.reportWindow;
  return report.written ? 1 : 0;
}

}  // namespace velmora
