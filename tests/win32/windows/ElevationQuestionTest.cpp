// The question whose Yes goes on as administrator, through the real
// message-box adapter under Wine: a task dialog titled Velmora, modal to the
// window that asked (disabled while it is open, enabled again after), its
// text as given, the shield on Yes only; Yes answers Yes, and No and the
// close box answer No. (Wine's task dialog ignores Escape unless it has a
// Cancel button; Windows' answers it as the close box.)
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/Ports.h"

namespace velmora {
namespace {

// What the other thread saw of the question while it was open.
struct Seen {
  bool found = false;
  bool ownerEnabled = true;
  HWND owner = nullptr;
  std::wstring text;
  bool pictureOnYes = false, pictureOnNo = false;
};

bool HasPicture(HWND button) {
  return button &&
         (SendMessageW(button, BM_GETIMAGE, IMAGE_ICON, 0) || SendMessageW(button, BM_GETIMAGE, IMAGE_BITMAP, 0));
}

BOOL CALLBACK LongestText(HWND child, LPARAM into) {
  wchar_t text[512] = {};
  GetWindowTextW(child, text, 512);
  auto* longest = reinterpret_cast<std::wstring*>(into);
  if (wcslen(text) > longest->size()) *longest = text;
  return TRUE;
}

enum class Way { Yes, No, Close };

// Asks from a window of this thread, as the program's window asks, while
// another thread finds the question, looks at it and answers it one way.
int AskAndAnswer(Way way, Seen* seen) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 400, 300, nullptr,
                               nullptr, nullptr, nullptr);
  SetActiveWindow(owner);
  std::atomic<bool> done{false};
  std::thread answerer([&] {
    HWND question = nullptr;
    for (int i = 0; i < 1000 && !done && !question; ++i) {
      HWND found = FindWindowW(L"#32770", L"Velmora");
      if (found && IsWindowVisible(found)) question = found;
      else Sleep(10);
    }
    if (!question) return;
    seen->found = true;
    seen->ownerEnabled = IsWindowEnabled(owner) != FALSE;
    seen->owner = GetWindow(question, GW_OWNER);
    EnumChildWindows(question, LongestText, reinterpret_cast<LPARAM>(&seen->text));
    HWND yes = GetDlgItem(question, IDYES), no = GetDlgItem(question, IDNO);
    seen->pictureOnYes = HasPicture(yes);
    seen->pictureOnNo = HasPicture(no);
    switch (way) {
      case Way::Yes:
        PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), reinterpret_cast<LPARAM>(yes));
        break;
      case Way::No:
        PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(no));
        break;
      case Way::Close: PostMessageW(question, WM_CLOSE, 0, 0); break;
    }
  });
  const int answer = MessageBoxes().Show(
      "Velmora benötigt Administratorrechte, um die Dateien von ICQ in "
      "C:\\Programme\\ICQ6 zu ändern. Als Administrator fortfahren?",
      "Velmora", MessageBoxPort::kYesNoElevate);
  done = true;
  answerer.join();
  EXPECT_TRUE(IsWindowEnabled(owner)) << "the owner stays disabled after the question";
  if (seen->found) {
    EXPECT_EQ(seen->owner, owner);
  }
  DestroyWindow(owner);
  return answer;
}

TEST(ElevationQuestion, ATaskDialogModalToTheAskingWindowWithTheShieldOnYes) {
  // Common controls are loaded as the program's start loads them; without
  // them the question is the message box of XP.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ASSERT_TRUE(InitCommonControlsEx(&controls));
  const struct {
    Way way;
    int answer;
    const char* name;
  } ways[] = {{Way::Yes, MessageBoxPort::kAnswerYes, "Yes"},
              {Way::No, MessageBoxPort::kAnswerNo, "No"},
              {Way::Close, MessageBoxPort::kAnswerNo, "the close box"}};
  for (const auto& w : ways) {
    SCOPED_TRACE(w.name);
    Seen seen;
    EXPECT_EQ(AskAndAnswer(w.way, &seen), w.answer);
    ASSERT_TRUE(seen.found) << "no question titled Velmora appeared";
    EXPECT_FALSE(seen.ownerEnabled) << "the asking window stays usable behind the question";
    EXPECT_EQ(seen.text,
              L"Velmora ben\u00f6tigt Administratorrechte, um die Dateien von ICQ in C:\\Programme\\ICQ6 zu "
              L"\u00e4ndern. Als Administrator fortfahren?");
    // A message box has no pictures on its buttons: the shield shows that the
    // task dialog asked.
    EXPECT_TRUE(seen.pictureOnYes) << "no shield on Yes";
    EXPECT_FALSE(seen.pictureOnNo) << "a picture on No";
  }
}

}  // namespace
}  // namespace velmora
