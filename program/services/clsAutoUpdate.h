// clsAutoUpdate: asks the download directory whether a newer version of the
// program is there, and hands the setup's address to the browser.
//
// The directory holds two files: the version file, whose whole text is the
// newest version, and the setup. The directory is the program's web site
// unless the string UpdateURL under the program's own settings key names
// another; each file name is appended to it as it is. A plain http
// directory is asked only on this computer (127.0.0.1, [::1], localhost).
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

inline constexpr const char* DEFAULT_UPDATE_URL = "https://www.velmora.example/downloads/";
inline constexpr const char* UPDATE_VERSION_FILE = "VelmoraVersion.ini";
inline constexpr const char* UPDATE_SETUP_FILE = "Velmora-Setup.exe";

class clsAutoUpdate {
 public:
  // Why the last check could not tell whether a newer version exists.
  enum class CheckFailure {
    None,
    Unreachable,   // no answer: no connection, or no answer in time
    HttpStatus,    // an answer other than 200
    NoVersionText, // no text to compare: the file was empty, or could not be stored or read
    Incomparable,  // a text that is no version (dotted with other than digits, too long)
    PlainHttp,     // an http address of another computer: not asked at all
  };

  // Reads the download directory once; both operations use the same one.
  clsAutoUpdate();

  // Fetches the version file and compares it with the running program's
  // version. Never raises: a step that fails is stepped over, and a check
  // that could not tell answers false with LastCheckFailed() true.
  bool NewVersionExists();
  // Opens the setup's address in the browser, which downloads it. Failures
  // raise to the caller.
  void QuickDownloadNewVersion();

  bool LastCheckFailed() const { return failure_ != CheckFailure::None; }
  CheckFailure LastFailure() const { return failure_; }
  // The HTTP status of the last check's answer; 0 when none came.
  int LastHttpStatus() const { return httpStatus_; }
  const std::string& DownloadDirectory() const { return directory_; }

 private:
  // Fetches url into the file localPath. True only when the server answered
  // 200 with a body short enough to be a version file and it was written.
  bool DownloadFile(const std::string& url, const std::string& localPath);
  void Fail(CheckFailure reason);

  std::string directory_;
  CheckFailure failure_ = CheckFailure::None;
  int httpStatus_ = 0;
};

// The whole dialogue of the main window's "Search for updates" button: checks,
// then asks whether to download the new version (and opens its address on
// Yes), or says that this is the latest version, or that the check failed.
// Language 1 is German, any other English. Raises only when opening the
// setup's address fails, and then the error as it came. Called while a check
// runs, it does nothing.
void RunUpdateCheck(int16_t currentLanguage);

}  // namespace velmora
