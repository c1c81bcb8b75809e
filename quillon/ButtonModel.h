#pragma once
// The Quillon button without the window system: its stored properties, its
// four constituent parts (as geometry and colours), the layout in twips, the
// looks of every state (its own, and the system colours of high contrast),
// the hover tracking and the keys. The Win32 control feeds it input, the
// system's high-contrast setting among it, and draws what it describes; the
// native tests drive it with a fake platform.

#include <cstdint>
#include <string>

namespace quillon {

// Error numbers as a late-bound caller knows them.
constexpr int32_t kErrOverflow = 6;
constexpr int32_t kErrInvalidPropertyValue = 380;

struct ControlError {
  int32_t number;
};

constexpr int16_t kTrue = -1;
constexpr int16_t kFalse = 0;

// 0x00BBGGRR, or 0x80000000 + n for system colour n.
using Colour = uint32_t;

constexpr Colour kSurfaceColour = 0xE0E0E0;
constexpr Colour kDisabledFill = 0xE0E0E0;
constexpr Colour kDisabledText = 0x808080;
constexpr Colour kFocusFill = 0xFFC0C0;
constexpr Colour kFocusOutline = 0xFF8080;
constexpr Colour kHoverOutline = 0x80C0FF;
constexpr Colour kRestingOutline = 0x000000;

// System colours the high-contrast look draws with.
constexpr Colour kSystemColour = 0x80000000;
constexpr Colour kButtonFace = kSystemColour | 15;  // COLOR_BTNFACE
constexpr Colour kButtonText = kSystemColour | 18;  // COLOR_BTNTEXT
constexpr Colour kHighlight = kSystemColour | 13;   // COLOR_HIGHLIGHT
constexpr Colour kGrayText = kSystemColour | 17;    // COLOR_GRAYTEXT

// A new button's surface, before the host sizes it.
constexpr float kNewWidth = 2475.0f;
constexpr float kNewHeight = 735.0f;

struct TwipsRect {
  float left = 0, top = 0, width = 0, height = 0;
  bool Contains(float x, float y) const { return x >= left && x < left + width && y >= top && y < top + height; }
};

// Outline codes of the background shape.
enum ShapeKind : int16_t {
  kRectangle = 0,
  kSquare = 1,
  kOval = 2,
  kCircle = 3,
  kRoundedRectangle = 4,
  kRoundedSquare = 5,
};

struct Ground {  // shpGround
  TwipsRect rect;
  int16_t kind = kRoundedRectangle;
  Colour fill = kSurfaceColour;
  bool outlineVisible = true;
  int outlineWidth = 1;  // pixels, like a pen
  Colour outlineColour = kRestingOutline;
};

enum TextAlignment { kAlignLeft = 0, kAlignCentre = 1, kAlignRight = 2 };

struct CaptionLabel {  // lblCaption
  TwipsRect rect;
  TextAlignment alignment = kAlignLeft;
  Colour textColour = 0;
  std::u16string text = u"Quillon";
};

struct PictureHolder {  // imgPicture
  TwipsRect rect{120, 120, 495, 495};
  bool stretch = true;
};

// What a button needs from its window.
class ButtonPlatform {
 public:
  struct Extent {
    float width, height;
  };
  // Size of the text in the caption label's current font, in twips.
  virtual Extent MeasureCaption(const std::u16string& text) = 0;
  virtual bool CursorIsOverButton() = 0;
  virtual void SetTimerRunning(bool running) = 0;
  virtual void Redraw() = 0;
  virtual void RaiseClick() = 0;
  virtual void RaiseMouseMove(int16_t button, int16_t shift, float x, float y) = 0;
  virtual void RaiseMouseOver() = 0;
  virtual void RaiseMouseOut() = 0;

 protected:
  ~ButtonPlatform() = default;
};

// Stored values of the properties, in the order of the button's state.
struct ButtonState {
  std::u16string caption;
  Colour fontColour = 0;
  int32_t form = 0;
  Colour backColour = 0;
  bool hasPicture = false;
  float pictureWidth = 0;  // natural size in twips
  float pictureHeight = 0;
  int16_t pictureStretch = kFalse;
  int32_t pictureAlign = 0;
  int32_t textAlign = 0;
  int16_t enabled = kFalse;
  bool bolMouseIsOver = false;
  bool bolHasFocus = false;
};

enum class Part { Surface, Caption, Picture };

// What the window paints over the parts' geometry: the colours and the
// outline of the look that shows now, and whether a focus rectangle goes
// inside the outline.
struct Appearance {
  Colour fill;
  bool outlineVisible;
  int outlineWidth;  // pixels
  Colour outlineColour;
  Colour textColour;
  bool focusRectangle;
};

struct HitResult {
  Part part;
  float x, y;  // relative to the part
};

class ButtonModel {
 public:
  explicit ButtonModel(ButtonPlatform& platform);

  const ButtonState& State() const { return state_; }
  const Ground& shpGround() const { return ground_; }
  const CaptionLabel& lblCaption() const { return caption_; }
  const PictureHolder& imgPicture() const { return picture_; }
  bool TimerRunning() const { return timerRunning_; }
  float Width() const { return width_; }
  float Height() const { return height_; }

  // Property writes with their side effects. Those that can fail throw
  // ControlError; what was done before the failure stays done.
  void WriteEnabled(int16_t value);
  void WriteTextAlign(int32_t value);
  void WritePictureAlign(int32_t value);
  void WriteBackColour(Colour value);
  void WriteForm(int32_t value);
  void WriteCaption(std::u16string value);
  void WritePicture(bool present, float naturalWidth, float naturalHeight);
  void WritePictureStretch(int16_t value);
  void WriteFontColour(Colour value);
  // One attribute of the caption's font has changed: the label fits itself
  // to its text again.
  void CaptionFontChanged();

  // The host gave the button a new inner size (twips).
  void Resize(float width, float height);

  void LayoutButton();
  void LayoutCaptionAndPicture();

  // The system's high-contrast setting, as the window reads it. While it is
  // on the button shows the system's colours instead of its own look; the
  // parts keep their own colours meanwhile and show them again once it is off.
  void SetHighContrast(bool on);
  bool HighContrast() const { return highContrast_; }
  // The look to draw now.
  Appearance Look() const;
  // The hover look shows: the pointer is over an enabled button and the
  // look marks it.
  bool HoverLookShown() const;

  void ClickRoutine();
  void KeyPress(int charCode);
  // The space bar presses a focused button as on a push button: down arms
  // it, up clicks it. Losing the focus in between disarms it.
  void SpaceDown();
  void SpaceUp();
  void MouseMove(int16_t button, int16_t shift, float x, float y);
  void FocusGained();
  void FocusLost();
  void TimerTick();

  // Which part lies under a point of the surface (twips), and the point in
  // that part's coordinates. The caption is drawn last, so it wins.
  HitResult HitTest(float x, float y) const;

 private:
  void ApplyEnabledLook();
  void FitCaptionToText();
  void ShowPictureAtNaturalSize();
  static void SetExtent(TwipsRect& rect, float width, float height);
  static void SetWidth(TwipsRect& rect, float width);
  static void SetHeight(TwipsRect& rect, float height);

  ButtonPlatform& platform_;
  ButtonState state_;
  Ground ground_;
  CaptionLabel caption_;
  PictureHolder picture_;
  bool timerRunning_ = true;  // the timer is running when the button is made
  bool highContrast_ = false;
  bool spaceArmed_ = false;
  float width_ = kNewWidth;
  float height_ = kNewHeight;
};

}  // namespace quillon
