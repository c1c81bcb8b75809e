#include "services/clsAutoUpdate.h"

#include <chrono>
#include <cstddef>
#include <string_view>
#include <vector>

#include "errors/ErrChain.h"
#include "errors/VbConvert.h"
#include "platform/Ports.h"
#include "services/clsFile.h"
#include "services/clsReg.h"

namespace velmora {
namespace {

// A version file is one short line. A longer body is some other page (a
// provider's placeholder, a login portal), not a version.
constexpr std::size_t kVersionFileCap = 4096;
constexpr int HTTP_OK = 200;

// The check steps over its failures. What they left in the error library
// must go with them: clsFile's trap has already begun a report, and the next
// real failure would otherwise find that half report (or this error, in an
// ErrorIn without an exception in flight) and take it for its own.
void ForgetIgnoredError() {
  Err().Clear();
  PreservedErr() = PreservedErrRecord{};
  ReportText().clear();
  ValueDumps().clear();
}

// The download directory: the deployer's UpdateURL, else the web site's. A
// settings object of its own, so that the shared store's key stays as it is.
//
// An elevated process takes the built-in address only: the user's settings
// key is writable by every program the user runs unelevated, and the setup's
// address is handed on to a browser that would start with full rights.
std::string ReadDownloadDirectory() {
  bool elevated = true;
  try {
    elevated = Facts().RunsElevated();
  } catch (...) {
    ForgetIgnoredError();
  }
  if (elevated) return DEFAULT_UPDATE_URL;
  clsReg reg;
  reg.RootKey(HKEY_CURRENT_USER_VALUE);
  reg.MainBranch("SOFTWARE");
  reg.RegBase("velmora.example");
  reg.Program("Velmora");
  reg.Section("Settings");
  return reg.ReadEntry("UpdateURL", DEFAULT_UPDATE_URL);
}

// Plain http can be read and rewritten by anyone on the way, and the setup's
// address it names goes to the browser. It is good only for a server on this
// computer, as tests and a deployer's own trials use. Anything unusual in the
// host part (user names, escapes) counts as not this computer.
bool IsPlainHttpBeyondThisComputer(std::string_view url) {
  const auto lower = [](std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
  };
  // Blanks before the scheme, or a scheme without "//", may still reach
  // some server through the URL parser; such an address is not this computer.
  std::size_t start = 0;
  while (start < url.size() && static_cast<unsigned char>(url[start]) <= ' ') ++start;
  if (lower(url.substr(start, 5)) != "http:") return false;
  constexpr std::string_view kScheme = "http://";
  if (start != 0 || lower(url.substr(0, kScheme.size())) != kScheme) return true;
  url.remove_prefix(kScheme.size());
  const std::string authority = lower(url.substr(0, url.find_first_of("/?#")));
  for (std::string_view host : {"127.0.0.1", "[::1]", "localhost"}) {
    if (authority.compare(0, host.size(), host) != 0) continue;
    const std::string_view port = std::string_view(authority).substr(host.size());
    if (port.empty() || (port.front() == ':' && port.find_first_not_of("0123456789", 1) == std::string_view::npos))
      return false;
  }
  return true;
}

// A name in the user's temporary folder that no other check uses, so that
// two running copies of the program never read each other's half file.
std::string LocalVersionPath() {
  static unsigned serial = 0;
  std::string folder = Facts().TempFolder();
  if (folder.empty()) return {};
  if (folder.back() != '\\') folder += '\\';
  const auto ticks = std::chrono::system_clock::now().time_since_epoch().count();
  return folder + "VelmoraVersion-" + std::to_string(static_cast<unsigned long long>(ticks) % 1000000000ull) +
         "-" + std::to_string(++serial) + ".ini";
}

std::string_view TrimVersionText(std::string_view text) {
  // Notepad starts a UTF-8 file with a byte order mark; compared as it is,
  // it would make any version look newer.
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Two numbers written in decimal digits, of any length: -1, 0 or 1.
int CompareNumbers(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

enum class Order { Newer, NotNewer, Incomparable };

Order CompareWithOwn(std::string_view text, const VersionNumbers& own) {
  const std::string ownParts[] = {std::to_string(own.major), std::to_string(own.minor),
                                  std::to_string(own.revision)};
  if (text.find('.') == std::string_view::npos) {
    // The published version files have always held the digits of the version
    // run together ("103" for 1.0.3), compared as text. That comparison stays
    // for them, whatever it makes of "1010". Anything else in their place (a
    // portal's "OK", a page) is no version, though it would sort after "103".
    if (!AllDigits(text)) return Order::Incomparable;
    return text > std::string_view(ownParts[0] + ownParts[1] + ownParts[2]) ? Order::Newer : Order::NotNewer;
  }
  const std::vector<std::string_view> parts = Split(text, '.');
  if (parts.size() > 3) return Order::Incomparable;
  for (std::string_view part : parts)
    if (!AllDigits(part)) return Order::Incomparable;
  for (std::size_t i = 0; i < 3; ++i) {
    const int order = CompareNumbers(i < parts.size() ? parts[i] : "0", ownParts[i]);
    if (order != 0) return order > 0 ? Order::Newer : Order::NotNewer;
  }
  return Order::NotNewer;
}

}  // namespace

clsAutoUpdate::clsAutoUpdate() : directory_(ReadDownloadDirectory()) {}

void clsAutoUpdate::Fail(CheckFailure reason) {
  // The first failure is the one that explains the others.
  if (failure_ == CheckFailure::None) failure_ = reason;
}

bool clsAutoUpdate::DownloadFile(const std::string& url, const std::string& localPath) {
  HttpPort::Response response;
  try {
    // One byte more than a version file may have tells a longer body apart.
    response = Http().Get(url, kVersionFileCap + 1);
  } catch (...) {
    ForgetIgnoredError();
    Fail(CheckFailure::Unreachable);
    return false;
  }
  httpStatus_ = response.status;
  if (response.status != HTTP_OK) {
    Fail(CheckFailure::HttpStatus);
    return false;
  }
  if (response.body.size() > kVersionFileCap) {
    Fail(CheckFailure::Incomparable);
    return false;
  }
  SharedFile().OpenForOutput(localPath, response.body);
  return true;
}

bool clsAutoUpdate::NewVersionExists() {
  failure_ = CheckFailure::None;
  httpStatus_ = 0;
  if (IsPlainHttpBeyondThisComputer(directory_)) {
    Fail(CheckFailure::PlainHttp);
    return false;
  }

  std::string localPath;
  try {
    localPath = LocalVersionPath();
  } catch (...) {
    ForgetIgnoredError();
  }
  if (localPath.empty()) {
    // Without a temporary folder every later step would write beside the
    // current folder, wherever that is.
    Fail(CheckFailure::NoVersionText);
    return false;
  }

  try {
    DownloadFile(directory_ + UPDATE_VERSION_FILE, localPath);
  } catch (...) {
    ForgetIgnoredError();
  }

  std::string text;
  try {
    text = SharedFile().OpenForInput(localPath);
  } catch (...) {
    ForgetIgnoredError();
  }
  const std::string_view version = TrimVersionText(text);
  if (version.empty()) Fail(CheckFailure::NoVersionText);

  bool newer = false;
  if (!version.empty()) {
    try {
      const Order order = CompareWithOwn(version, Facts().AppVersion());
      if (order == Order::Incomparable) Fail(CheckFailure::Incomparable);
      newer = order == Order::Newer;
    } catch (...) {
      ForgetIgnoredError();
      Fail(CheckFailure::Incomparable);
    }
  }

  try {
    Files().Remove(localPath);
  } catch (...) {
    ForgetIgnoredError();
  }
  return newer && !LastCheckFailed();
}

void clsAutoUpdate::QuickDownloadNewVersion() {
  Shell().OpenAddress(0, directory_ + UPDATE_SETUP_FILE);
}

namespace {

// One check at a time: the window thread dispatches messages while a check
// waits, and a second check started from there would run inside the first.
bool g_checkRunning = false;

class CheckRunning {
 public:
  CheckRunning() { g_checkRunning = true; }
  CheckRunning(const CheckRunning&) = delete;
  CheckRunning& operator=(const CheckRunning&) = delete;
  ~CheckRunning() { g_checkRunning = false; }
};

// The check and its answer form one dialogue: the window that asked keeps
// its other commands and its closing until the answer has been given.
class Dialogue {
 public:
  Dialogue() { Http().BeginDialogue(); }
  Dialogue(const Dialogue&) = delete;
  Dialogue& operator=(const Dialogue&) = delete;
  ~Dialogue() {
    // The port was there for BeginDialogue; nothing here can fail.
    try {
      Http().EndDialogue();
    } catch (...) {
    }
  }
};

}  // namespace

// No trap of its own: the click handler's trap reports a failure as its own.
void RunUpdateCheck(int16_t currentLanguage) {
  if (g_checkRunning) return;
  const CheckRunning running;
  const Dialogue dialogue;
  const bool german = currentLanguage == 1;
  clsAutoUpdate update;
  if (update.NewVersionExists()) {
    const int answer = german
                           ? MessageBoxes().Show("Es existiert eine neue Version. Wollen Sie diese nun herunterladen?",
                                                 APP_TITLE, MessageBoxPort::kYesNoQuestion)
                           : MessageBoxes().Show("A new version is available. Do you want to download it now?",
                                                 APP_TITLE, MessageBoxPort::kYesNo);
    if (answer == MessageBoxPort::kAnswerYes) update.QuickDownloadNewVersion();
  } else if (update.LastCheckFailed()) {
    MessageBoxes().Show(german ? "Die Suche nach Updates ist fehlgeschlagen. "
                                 "Bitte versuchen Sie es später noch einmal."
                               : "The update check failed. Please try again later.",
                        APP_TITLE, MessageBoxPort::kOkExclamation);
  } else {
    MessageBoxes().Show(
        german ? "Sie setzen bereits die neuste Version ein." : "You are already using the latest version.", APP_TITLE,
        MessageBoxPort::kOkInformation);
  }
}

}  // namespace velmora
