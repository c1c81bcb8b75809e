#include "services/basMain.h"

#include "errors/ErrChain.h"
#include "platform/Ports.h"
#include "services/clsReg.h"

namespace velmora {

int16_t CurrentLanguage = 0;
int16_t CloseAfterApply = 0;
MainWindowTexts& (*TheMainWindow)() = nullptr;

namespace {

constexpr uint16_t kGermanGermany = 1031;

struct MainText {
  const char* control;
  const char* german;
  const char* english;
};

// In the order they are set.
constexpr MainText kMainTexts[] = {
    {"qbtnApply", "Änderungen übernehmen", "Apply Changes"},
    {"qbtnOpen", "Bild auswählen", "Choose Picture"},
    {"qbtnRemoveBanner", "Banner entfernen", "Remove Banner"},
    {"qbtnSettings", "Einstellungen", "Settings"},
    {"lblPreview", "Vorschau", "Preview"},
    {"lblRemovedBanner", "Banner wurde bereits entfernt", "Banner is already removed"},
    {"qbtnCheckUpdate", "Nach Updates suchen", "Search for updates"},
};

}  // namespace

int16_t GetSystemLanguage() {
  Trap trap("basMain.GetSystemLanguage");
  try {
    trap.at(10);
    return Facts().UserDefaultLangId() == kGermanGermany ? 1 : 2;
  } catch (...) {
    ErrorIn(trap, Value(), ERRIN_PASS_ON);
  }
}

void SetLanguage(int16_t intLang) {
  Trap trap("basMain.SetLanguage(intLang)");
  try {
    trap.at(10);
    if (!TheMainWindow) RaiseRuntime(RuntimeError::kObjectNotSet);
    MainWindowTexts& main = TheMainWindow();
    trap.at(20);
    if (intLang == 1 || intLang == 2) {
      for (const MainText& t : kMainTexts) main.SetControlText(t.control, intLang == 1 ? t.german : t.english);
    }
    trap.at(30);
    RegStore().WriteEntry("Language", std::to_string(intLang));
  } catch (...) {
    ErrorIn(trap, intLang, ERRIN_PASS_ON);
  }
}

}  // namespace velmora
