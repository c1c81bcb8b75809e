// basMain: the program-wide values and the language of the user interface.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The language in force: 0 until the start-up has decided, 1 German,
// 2 English. Main-window texts take only 1 or 2; every other text is German
// for 1 and English for anything else.
extern int16_t CurrentLanguage;
// 1: the main window closes itself after a successful apply.
extern int16_t CloseAfterApply;

// The main window as the language module sees it: controls that take a text.
class MainWindowTexts {
 public:
  virtual ~MainWindowTexts() = default;
  virtual void SetControlText(const std::string& control, const std::string& text) = 0;
};

// Set by the program: hands out the main window, loading it first if it is
// not loaded yet.
extern MainWindowTexts& (*TheMainWindow)();

// 1 when the user's default language is exactly German (Germany), else 2.
int16_t GetSystemLanguage();
// Puts the main window's seven texts in German (1) or English (2); other
// values set none. Then stores the value as "Language" in the current key of
// the settings store, whatever it is.
void SetLanguage(int16_t intLang);

// The text of the current language: German for 1, English otherwise.
inline std::string ByLanguage(const std::string& german, const std::string& english) {
  return CurrentLanguage == 1 ? german : english;
}

}  // namespace velmora
