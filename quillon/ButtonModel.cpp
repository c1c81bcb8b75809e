#include "ButtonModel.h"

#include <limits>
#include <utility>

namespace quillon {

namespace {

// A failing statement of LayoutCaptionAndPicture is skipped and the next one
// runs; this keeps that rule in one place.
template <typename Step>
void Attempt(Step step) {
  try {
    step();
  } catch (const ControlError&) {
  }
}

}  // namespace

ButtonModel::ButtonModel(ButtonPlatform& platform) : platform_(platform) { ground_.rect = {0, 0, width_, height_}; }

// Sizes of the parts cannot be negative; a layout that asks for one fails
// the way a window-system control refuses the value.
void ButtonModel::SetWidth(TwipsRect& rect, float width) {
  if (width < 0) throw ControlError{kErrInvalidPropertyValue};
  rect.width = width;
}

void ButtonModel::SetHeight(TwipsRect& rect, float height) {
  if (height < 0) throw ControlError{kErrInvalidPropertyValue};
  rect.height = height;
}

void ButtonModel::SetExtent(TwipsRect& rect, float width, float height) {
  SetWidth(rect, width);
  SetHeight(rect, height);
}

void ButtonModel::WriteEnabled(int16_t value) {
  // A caller through the vtable may hand over 1 for true. Stored as 1 it
  // would show the enabled look while the click routine, which wants -1,
  // ignored every click; so every non-zero value is stored as True.
  state_.enabled = value != 0 ? kTrue : kFalse;
  ApplyEnabledLook();
  platform_.Redraw();
}

void ButtonModel::ApplyEnabledLook() {
  if (state_.enabled != 0) {
    ground_.fill = state_.backColour;
    caption_.textColour = state_.fontColour;
    ground_.outlineVisible = true;
  } else {
    ground_.fill = kDisabledFill;
    caption_.textColour = kDisabledText;
    ground_.outlineVisible = false;
  }
}

void ButtonModel::WriteTextAlign(int32_t value) {
  state_.textAlign = value;
  LayoutButton();
}

void ButtonModel::WritePictureAlign(int32_t value) {
  state_.pictureAlign = value;
  try {
    LayoutButton();
  } catch (const ControlError&) {
  }
}

void ButtonModel::WriteBackColour(Colour value) {
  state_.backColour = value;
  ground_.fill = value;
  platform_.Redraw();
}

void ButtonModel::WriteForm(int32_t value) {
  // The value is stored first; a code the shape cannot take then fails on
  // its way to the shape and leaves the shape as it was.
  state_.form = value;
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
    throw ControlError{kErrOverflow};
  if (value < kRectangle || value > kRoundedSquare) throw ControlError{kErrInvalidPropertyValue};
  ground_.kind = static_cast<int16_t>(value);
  platform_.Redraw();
}

void ButtonModel::WriteCaption(std::u16string value) {
  state_.caption = value;
  caption_.text = std::move(value);
  FitCaptionToText();
  platform_.Redraw();
}

void ButtonModel::FitCaptionToText() {
  // The label keeps its left and top and takes the size of its text.
  const auto extent = platform_.MeasureCaption(caption_.text);
  caption_.rect.width = extent.width;
  caption_.rect.height = extent.height;
}

void ButtonModel::CaptionFontChanged() {
  FitCaptionToText();
  platform_.Redraw();
}

void ButtonModel::ShowPictureAtNaturalSize() {
  picture_.rect.width = state_.pictureWidth;
  picture_.rect.height = state_.pictureHeight;
}

void ButtonModel::WritePicture(bool present, float naturalWidth, float naturalHeight) {
  state_.hasPicture = present;
  state_.pictureWidth = present ? naturalWidth : 0;
  state_.pictureHeight = present ? naturalHeight : 0;
  if (present && !picture_.stretch) ShowPictureAtNaturalSize();
  platform_.Redraw();
  LayoutButton();
}

void ButtonModel::WritePictureStretch(int16_t value) {
  state_.pictureStretch = value != 0 ? kTrue : kFalse;
  picture_.stretch = value != 0;
  if (!picture_.stretch && state_.hasPicture) ShowPictureAtNaturalSize();
  platform_.Redraw();
  LayoutButton();
}

void ButtonModel::WriteFontColour(Colour value) {
  state_.fontColour = value;
  caption_.textColour = value;
  platform_.Redraw();
}

void ButtonModel::Resize(float width, float height) {
  width_ = width;
  height_ = height;
  try {
    LayoutButton();
  } catch (const ControlError&) {
  }
}

void ButtonModel::LayoutButton() {
  const float w = width_, h = height_;
  ground_.rect.left = 0;
  ground_.rect.top = 0;
  SetExtent(ground_.rect, w, h);
  platform_.Redraw();
  if (state_.hasPicture && state_.pictureStretch == kTrue) {
    SetHeight(picture_.rect, h - 100);
    SetWidth(picture_.rect, picture_.rect.height);
  }
  picture_.rect.top = (h - picture_.rect.height) / 2;
  caption_.rect.top = (h - caption_.rect.height) / 2;
  LayoutCaptionAndPicture();
}

void ButtonModel::LayoutCaptionAndPicture() {
  const float w = width_;
  switch (state_.textAlign) {
    case 0: caption_.alignment = kAlignLeft; break;
    case 1: caption_.alignment = kAlignCentre; break;
    case 2: caption_.alignment = kAlignRight; break;
    default: break;
  }
  platform_.Redraw();
  if (!state_.hasPicture) {
    caption_.rect.left = 75;
    Attempt([&] { SetWidth(caption_.rect, w - 150); });
    return;
  }
  PictureHolder& pic = picture_;
  Attempt([&] { SetWidth(caption_.rect, w - 225 - pic.rect.width); });
  switch (state_.pictureAlign) {
    case 0:
      pic.rect.left = 75;
      caption_.rect.left = pic.rect.width + 150;
      break;
    case 1:
      pic.rect.left = (w - pic.rect.width) / 2;
      caption_.rect.left = (w - caption_.rect.width) / 2;
      break;
    case 2:
      pic.rect.left = w - pic.rect.width - 75;
      caption_.rect.left = 75;
      break;
    default: break;
  }
}

void ButtonModel::ClickRoutine() {
  if (state_.enabled == kTrue) platform_.RaiseClick();
}

void ButtonModel::KeyPress(int charCode) {
  if (charCode == 13 && state_.enabled == kTrue) platform_.RaiseClick();
}

void ButtonModel::FocusGained() {
  if (state_.enabled == kTrue) {
    ground_.fill = kFocusFill;
    ground_.outlineWidth = 2;
    if (!state_.bolMouseIsOver) ground_.outlineColour = kFocusOutline;
  }
  state_.bolHasFocus = true;
  platform_.Redraw();
}

void ButtonModel::SpaceDown() {
  // Auto-repeat sends more downs while the key is held; the press is one.
  if (state_.enabled == kTrue && state_.bolHasFocus) spaceArmed_ = true;
}

void ButtonModel::SpaceUp() {
  const bool armed = spaceArmed_;
  spaceArmed_ = false;
  if (armed && state_.bolHasFocus) ClickRoutine();
}

void ButtonModel::SetHighContrast(bool on) {
  highContrast_ = on;
  platform_.Redraw();
}

Appearance ButtonModel::Look() const {
  const bool enabled = state_.enabled == kTrue;
  if (!highContrast_) {
    // The own look has nothing for the focus of a disabled button (a click
    // can give it one); the focus rectangle shows it then.
    return {ground_.fill,          ground_.outlineVisible, ground_.outlineWidth,
            ground_.outlineColour, caption_.textColour,    state_.bolHasFocus && !enabled};
  }
  // High contrast: the system's colours only, the outline always there so
  // the button's edge shows on any background, and a focus rectangle.
  if (!enabled) return {kButtonFace, true, 1, kGrayText, kGrayText, state_.bolHasFocus};
  const bool marked = state_.bolHasFocus || state_.bolMouseIsOver;
  return {kButtonFace, true, marked ? 2 : 1, marked ? kHighlight : kButtonText, kButtonText, state_.bolHasFocus};
}

bool ButtonModel::HoverLookShown() const {
  if (highContrast_) return state_.enabled == kTrue && state_.bolMouseIsOver;
  return ground_.outlineVisible && ground_.outlineColour == kHoverOutline;
}

void ButtonModel::FocusLost() {
  spaceArmed_ = false;
  if (state_.enabled == kTrue) {
    ground_.fill = state_.backColour;
    ground_.outlineColour = kRestingOutline;
    ground_.outlineWidth = 1;
  }
  state_.bolHasFocus = false;
  platform_.Redraw();
}

void ButtonModel::MouseMove(int16_t button, int16_t shift, float x, float y) {
  platform_.RaiseMouseMove(button, shift, x, y);
  if (!state_.bolMouseIsOver && platform_.CursorIsOverButton()) {
    if (!state_.bolHasFocus) ground_.outlineWidth = 2;
    ground_.outlineColour = kHoverOutline;
    platform_.Redraw();
    platform_.RaiseMouseOver();
    timerRunning_ = true;
    platform_.SetTimerRunning(true);
    state_.bolMouseIsOver = true;
  }
}

void ButtonModel::TimerTick() {
  if (platform_.CursorIsOverButton()) return;
  timerRunning_ = false;
  platform_.SetTimerRunning(false);
  if (state_.bolHasFocus) {
    ground_.outlineColour = kFocusOutline;
  } else {
    ground_.outlineWidth = 1;
    ground_.outlineColour = kRestingOutline;
  }
  platform_.Redraw();
  platform_.RaiseMouseOut();
  state_.bolMouseIsOver = false;
}

HitResult ButtonModel::HitTest(float x, float y) const {
  if (caption_.rect.Contains(x, y)) return {Part::Caption, x - caption_.rect.left, y - caption_.rect.top};
  // An empty picture holder shows nothing, so it is nothing to point at.
  if (state_.hasPicture && picture_.rect.Contains(x, y))
    return {Part::Picture, x - picture_.rect.left, y - picture_.rect.top};
  return {Part::Surface, x, y};
}

}  // namespace quillon
