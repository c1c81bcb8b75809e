// The Quillon button in a container, created through the registration-free
// manifest of this test program: properties, notifications, failures,
// persistence, layout as drawn, and the library's unload rule.

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"

namespace host {
namespace {

const COLORREF kRed = RGB(255, 0, 0);

TEST(Activation, ProgIdResolvesThroughTheManifestAlone) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"Quillon2.Quillon", &clsid), S_OK);
  // The activation context may answer with an alias of the class id of its
  // own making; the object made from it is the Quillon all the same.
  ComPtr<IPersist> made;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist, reinterpret_cast<void**>(made.Put())),
            S_OK);
  CLSID real{};
  made->GetClassID(&real);
  EXPECT_TRUE(IsEqualCLSID(real, CLSID_Quillon));
  made.Reset();
  // Nothing in the registry helps: the activation context does it.
  HKEY key = nullptr;
  const std::wstring path = L"CLSID\\{544C8BCE-1509-4CB4-B2E4-A2B1FCE1BB90}\\InprocServer32";
  EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  ACTCTX_SECTION_KEYED_DATA data{};
  data.cbSize = sizeof data;
  EXPECT_TRUE(
      FindActCtxSectionGuid(0, nullptr, ACTIVATION_CONTEXT_SECTION_COM_SERVER_REDIRECTION, &CLSID_Quillon, &data));
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(QuillonTest, NewButtonReadsQuillonRoundedOnTheWindowBackground) {
  PlaceNew(a);
  _Quillon* q = a.Control();
  VARIANT_BOOL flag = 0;
  BtnAlign align = Rechts;
  BtnForms form = Oval;
  OLE_COLOR colour = 1;
  EXPECT_EQ(Caption(a), L"Quillon");
  q->get_ButtonForm(&form);
  EXPECT_EQ(form, gerundetesRechteck);
  q->get_ButtonBackColor(&colour);
  EXPECT_EQ(colour, 0x80000005u);
  q->get_ButtonFontColor(&colour);
  EXPECT_EQ(colour, 0u);
  q->get_ButtonTextAlign(&align);
  EXPECT_EQ(align, Links);
  q->get_ButtonPictureAlign(&align);
  EXPECT_EQ(align, Links);
  q->get_ButtonPictureStretch(&flag);
  EXPECT_EQ(flag, VARIANT_TRUE);
  q->get_ButtonEnabled(&flag);
  EXPECT_EQ(flag, VARIANT_TRUE);
  ComPtr<IPictureDisp> picture;
  q->get_ButtonPicture(picture.Put());
  EXPECT_FALSE(picture);
  ComPtr<IFontDisp> font;
  q->get_ButtonFont(font.Put());
  ASSERT_TRUE(font);
  EXPECT_TRUE(SameFont(font, Font(L"MS Sans Serif", 12)));
  EXPECT_EQ(journal.activation, std::vector<std::wstring>{L"activate"});
}

TEST_F(QuillonTest, InitNewWritesTheStoredValuesAgainInItsOrder) {
  PlaceNew(a);
  EXPECT_EQ(journal.changes, (std::vector<std::wstring>{L"ButtonPictureAlign", L"ButtonTextAlign", L"ButtonBackColor",
                                                        L"ButtonCaption", L"ButtonForm", L"ButtonPicture",
                                                        L"ButtonFont", L"ButtonFontColor", L"ButtonEnabled"}));
}

TEST_F(QuillonTest, EveryPropertyHasItsDispatchIdAndNameAndTellsTheContainer) {
  PlaceNew(a);
  journal.Clear();
  struct Row {
    const wchar_t* name;
    DISPID id;
    VARIANT value;
  };
  ComPtr<IPictureDisp> icon = SolidIcon(32, kRed);
  ComPtr<IFontDisp> font = Font(L"Tahoma", 10);
  Row rows[] = {
      {L"ButtonEnabled", QUILLON_DISPID_BUTTONENABLED, Bool(false)},
      {L"ButtonTextAlign", QUILLON_DISPID_BUTTONTEXTALIGN, I4(Rechts)},
      {L"ButtonPictureAlign", QUILLON_DISPID_BUTTONPICTUREALIGN, I4(Mitte)},
      {L"ButtonBackColor", QUILLON_DISPID_BUTTONBACKCOLOR, I4(0x00C0FFEE)},
      {L"ButtonForm", QUILLON_DISPID_BUTTONFORM, I4(Oval)},
      {L"ButtonCaption", QUILLON_DISPID_BUTTONCAPTION, Str(L"Bild öffnen")},
      {L"ButtonPicture", QUILLON_DISPID_BUTTONPICTURE, Object(icon.Get())},
      {L"ButtonPictureStretch", QUILLON_DISPID_BUTTONPICTURESTRETCH, Bool(false)},
      {L"ButtonFont", QUILLON_DISPID_BUTTONFONT, Object(font.Get())},
      {L"ButtonFontColor", QUILLON_DISPID_BUTTONFONTCOLOR, I4(0x000080)},
  };
  for (auto& row : rows) {
    SCOPED_TRACE(testing::Message() << std::string(row.name, row.name + wcslen(row.name)));
    EXPECT_EQ(a.IdOf(row.name), row.id);
    // Lower case finds the same member.
    std::wstring lower = row.name;
    for (auto& ch : lower) ch = static_cast<wchar_t>(towlower(ch));
    EXPECT_EQ(a.IdOf(lower.c_str()), row.id);
    const bool byRef = V_VT(&row.value) == VT_DISPATCH;
    journal.changes.clear();
    EXPECT_EQ(a.PutById(a.IdOf(row.name), row.value, byRef ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(journal.changes, std::vector<std::wstring>{row.name});
    Var got;
    ASSERT_EQ(a.GetById(row.id, got.v), S_OK);
    if (byRef) {
      EXPECT_EQ(V_VT(&got.v), VT_DISPATCH);
      EXPECT_EQ(V_DISPATCH(&got.v), V_DISPATCH(&row.value));  // the very reference
    } else {
      ASSERT_EQ(VariantChangeType(&got.v, &got.v, 0, V_VT(&row.value)), S_OK);
      EXPECT_EQ(VarCmp(&got.v, &row.value, LOCALE_USER_DEFAULT, 0), static_cast<HRESULT>(VARCMP_EQ));
    }
    if (!byRef) VariantClear(&row.value);
  }
}

TEST_F(QuillonTest, SystemColoursPassAsNegativeLongsAndAsUnsigned) {
  PlaceNew(a);
  EXPECT_EQ(a.PutById(QUILLON_DISPID_BUTTONBACKCOLOR, I4(static_cast<LONG>(0x80000018))), S_OK);
  OLE_COLOR colour = 0;
  a.Control()->get_ButtonBackColor(&colour);
  EXPECT_EQ(colour, 0x80000018u);
  VARIANT u;
  VariantInit(&u);
  V_VT(&u) = VT_UI4;
  V_UI4(&u) = 0x80000005;
  EXPECT_EQ(a.PutById(QUILLON_DISPID_BUTTONBACKCOLOR, u), S_OK);
  a.Control()->get_ButtonBackColor(&colour);
  EXPECT_EQ(colour, 0x80000005u);
}

TEST_F(QuillonTest, RefusedOutlineCodesRaiseTheirErrorAfterTheValueIsStored) {
  PlaceNew(a);
  journal.Clear();
  struct Case {
    LONG value;
    HRESULT code;
    const wchar_t* text;
  } cases[] = {{70000, CTL_E_OVERFLOW, L"Overflow"},
               {-32769, CTL_E_OVERFLOW, L"Overflow"},
               {6, CTL_E_INVALIDPROPERTYVALUE, L"Invalid property value"},
               {-1, CTL_E_INVALIDPROPERTYVALUE, L"Invalid property value"}};
  for (const auto& k : cases) {
    EXCEPINFO info{};
    EXPECT_EQ(a.PutById(QUILLON_DISPID_BUTTONFORM, I4(k.value), DISPATCH_PROPERTYPUT, &info), DISP_E_EXCEPTION)
        << k.value;
    EXPECT_EQ(info.scode, k.code) << k.value;
    EXPECT_STREQ(info.bstrDescription, k.text);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    EXPECT_EQ(a.Control()->put_ButtonForm(static_cast<BtnForms>(k.value)), k.code);
    // The stored value is already the new one; no notification was sent.
    BtnForms form = Rechteck;
    a.Control()->get_ButtonForm(&form);
    EXPECT_EQ(static_cast<LONG>(form), k.value);
  }
  EXPECT_TRUE(journal.changes.empty());
  // Every shape code the background knows is taken.
  for (LONG code = 0; code <= 5; ++code) EXPECT_EQ(a.PutById(QUILLON_DISPID_BUTTONFORM, I4(code)), S_OK);
}

TEST_F(QuillonTest, SomethingThatIsNoPictureIsRefused) {
  PlaceNew(a);
  ComPtr<IFontDisp> font = Font(L"Tahoma", 9);
  journal.Clear();
  EXPECT_TRUE(FAILED(a.PutById(QUILLON_DISPID_BUTTONPICTURE, Object(font.Get()), DISPATCH_PROPERTYPUTREF)));
  // A caller through the vtable gets past the type check; the button itself refuses.
  EXPECT_EQ(a.Control()->putref_ButtonPicture(reinterpret_cast<IPictureDisp*>(font.Get())), CTL_E_INVALIDPICTURE);
  ComPtr<IPictureDisp> picture;
  a.Control()->get_ButtonPicture(picture.Put());
  EXPECT_FALSE(picture);
  EXPECT_TRUE(journal.changes.empty());
}

TEST_F(QuillonTest, FontAttributesAreCopiedSoLaterChangesToTheHostFontDoNotReachTheCaption) {
  PlaceNew(a);
  a.Control()->put_ButtonTextAlign(Links);
  ComPtr<IFontDisp> small = Font(L"Tahoma", 8.25);
  a.Control()->putref_ButtonFont(small.Get());
  const RECT smallText = TextBounds(Take(a.Window()));

  ComPtr<IFontDisp> big = Font(L"Tahoma", 18, true);
  a.Control()->putref_ButtonFont(big.Get());
  const RECT bigText = TextBounds(Take(a.Window()));
  EXPECT_GT(bigText.bottom - bigText.top, smallText.bottom - smallText.top);
  EXPECT_GT(bigText.right - bigText.left, smallText.right - smallText.left);

  // The host's font object changes; the caption does not, until written again.
  big.As<IFont>()->put_Size(CY{{8 * 10000 + 2500, 0}});
  const RECT unchanged = TextBounds(Take(a.Window()));
  EXPECT_EQ(unchanged.bottom - unchanged.top, bigText.bottom - bigText.top);
  a.Control()->putref_ButtonFont(big.Get());
  const RECT again = TextBounds(Take(a.Window()));
  EXPECT_LT(again.bottom - again.top, bigText.bottom - bigText.top);

  ComPtr<IFontDisp> stored;
  a.Control()->get_ButtonFont(stored.Put());
  EXPECT_EQ(stored.Get(), big.Get());
}

TEST_F(QuillonTest, ReadingAFontThatWasClearedMakesANewOne) {
  PlaceNew(a);
  EXPECT_EQ(a.Control()->putref_ButtonFont(nullptr), S_OK);
  ComPtr<IFontDisp> first, second;
  a.Control()->get_ButtonFont(first.Put());
  a.Control()->get_ButtonFont(second.Put());
  ASSERT_TRUE(first);
  EXPECT_EQ(first.Get(), second.Get());
  EXPECT_TRUE(SameFont(first, Font(L"MS Sans Serif", 8.25)));
}

// ---------------------------------------------------------------- drawing and layout

TEST_F(QuillonTest, LayoutExampleAsDrawn) {
  // 2535 x 615 twips with a 32 x 32 icon, stretch off: the picture sits at
  // 75, 67.5 (5 px, 4.5 px) and the caption runs from 630 for 1830 twips.
  PlaceNew(a);
  ASSERT_EQ(a.Control()->put_ButtonPictureStretch(VARIANT_FALSE), S_OK);
  ComPtr<IPictureDisp> icon = SolidIcon(32, kRed);
  ASSERT_EQ(a.Control()->putref_ButtonPicture(icon.Get()), S_OK);
  Snapshot s = Take(a.Window());
  ASSERT_EQ(s.width, 169);
  ASSERT_EQ(s.height, 41);
  RECT pic = BoundsOf(s, kRed);
  EXPECT_EQ(pic.left, 5);
  EXPECT_TRUE(pic.top == 4 || pic.top == 5) << pic.top;
  EXPECT_EQ(pic.right - pic.left, 32);
  EXPECT_EQ(pic.bottom - pic.top, 32);

  RECT text = TextBounds(s, 40);
  EXPECT_GE(text.left, 42);
  EXPECT_LE(text.left, 44);  // the first glyph's own side bearing
  ASSERT_EQ(a.Control()->put_ButtonTextAlign(Rechts), S_OK);
  text = TextBounds(Take(a.Window()), 40);
  EXPECT_LE(text.right, 42 + 122);
  EXPECT_GE(text.right, 42 + 122 - 2);
}

TEST_F(QuillonTest, StretchExampleAsDrawn) {
  PlaceNew(a);
  ComPtr<IPictureDisp> icon = SolidIcon(32, kRed);
  ASSERT_EQ(a.Control()->putref_ButtonPicture(icon.Get()), S_OK);
  RECT pic = BoundsOf(Take(a.Window()), kRed);
  // 515 x 515 twips at 50 from the top: 34 px square at 3 px.
  EXPECT_EQ(pic.right - pic.left, 34);
  EXPECT_EQ(pic.bottom - pic.top, 34);
  EXPECT_EQ(pic.left, 5);
  EXPECT_EQ(pic.top, 3);

  ASSERT_EQ(a.Control()->put_ButtonPictureStretch(VARIANT_FALSE), S_OK);
  pic = BoundsOf(Take(a.Window()), kRed);
  EXPECT_EQ(pic.right - pic.left, 32);
}

TEST_F(QuillonTest, PictureAlignmentCentreAndRightAsDrawn) {
  PlaceNew(a);
  a.Control()->put_ButtonPictureStretch(VARIANT_FALSE);
  ComPtr<IPictureDisp> icon = SolidIcon(32, kRed);
  a.Control()->putref_ButtonPicture(icon.Get());
  a.Control()->put_ButtonPictureAlign(Mitte);
  RECT pic = BoundsOf(Take(a.Window()), kRed);
  EXPECT_EQ(pic.left, 69);  // (2535 - 480) / 2 = 1027.5 twips
  a.Control()->put_ButtonPictureAlign(Rechts);
  pic = BoundsOf(Take(a.Window()), kRed);
  EXPECT_EQ(pic.left, 169 - 32 - 5);
}

TEST_F(QuillonTest, ResizeLaysTheButtonOutAgainWithoutARaisedEvent) {
  PlaceNew(a);
  a.Control()->put_ButtonTextAlign(Rechts);
  journal.Clear();
  ComPtr<IOleInPlaceObject> object = a.ole.As<IOleInPlaceObject>(IID_IOleInPlaceObject);
  RECT wider{8, 8, 8 + 240, 8 + 41};
  ASSERT_EQ(object->SetObjectRects(&wider, &wider), S_OK);
  const RECT text = TextBounds(Take(a.Window()));
  EXPECT_LE(text.right, 240 - 5);
  EXPECT_GE(text.right, 240 - 5 - 2);
  SIZEL extent{};
  a.Ole()->GetExtent(DVASPECT_CONTENT, &extent);
  EXPECT_EQ(extent.cx, MulDiv(240, 2540, 96));
  EXPECT_EQ(journal.Count(L"Resize"), 0);
}

TEST_F(QuillonTest, OutlineShapesAndBackColourAsDrawn) {
  PlaceNew(a);
  BSTR empty = SysAllocString(L"");
  a.Control()->put_ButtonCaption(empty);
  SysFreeString(empty);
  a.Control()->put_ButtonBackColor(RGB(0, 128, 0));
  const COLORREF host = GetSysColor(COLOR_BTNFACE);

  a.Control()->put_ButtonForm(Rechteck);
  Snapshot s = Take(a.Window());
  EXPECT_EQ(s.At(0, 0), RGB(0, 0, 0));  // outline reaches the corner
  EXPECT_EQ(s.At(84, 20), RGB(0, 128, 0));

  a.Control()->put_ButtonForm(gerundetesRechteck);
  s = Take(a.Window());
  EXPECT_EQ(s.At(0, 0), host);  // the window behind shows in the corner
  EXPECT_EQ(s.At(84, 0), RGB(0, 0, 0));

  a.Control()->put_ButtonForm(Oval);
  s = Take(a.Window());
  EXPECT_EQ(s.At(3, 3), host);
  EXPECT_EQ(s.At(84, 20), RGB(0, 128, 0));

  a.Control()->put_ButtonForm(static_cast<BtnForms>(3));  // circle: the shorter side, centred
  s = Take(a.Window());
  EXPECT_EQ(s.At(30, 20), host);
  EXPECT_EQ(s.At(84, 20), RGB(0, 128, 0));
  EXPECT_EQ(s.At(84, 0), RGB(0, 0, 0));

  a.Control()->put_ButtonForm(static_cast<BtnForms>(1));  // square
  s = Take(a.Window());
  EXPECT_EQ(s.At(60, 20), host);
  EXPECT_EQ(s.At(64, 0), RGB(0, 0, 0));
}

TEST_F(QuillonTest, SystemColoursAreResolvedWhenDrawn) {
  PlaceNew(a);
  BSTR empty = SysAllocString(L"");
  a.Control()->put_ButtonCaption(empty);
  SysFreeString(empty);
  a.Control()->put_ButtonBackColor(0x80000000 | COLOR_INFOBK);
  EXPECT_EQ(Take(a.Window()).At(84, 20), GetSysColor(COLOR_INFOBK));
}

TEST_F(QuillonTest, DisabledLookAndColourWritesWhileDisabled) {
  PlaceNew(a);
  a.Control()->put_ButtonBackColor(RGB(0, 128, 0));
  a.Control()->put_ButtonEnabled(VARIANT_FALSE);
  Snapshot s = Take(a.Window());
  EXPECT_EQ(s.At(84, 0), RGB(224, 224, 224));  // no outline
  EXPECT_EQ(s.At(150, 20), RGB(224, 224, 224));
  EXPECT_GE(TextBounds(s).left, TextBounds(s).right);  // nothing black
  const RECT grey = BoundsOf(s, RGB(128, 128, 128));
  EXPECT_GE(grey.left, 5);  // the caption, in grey
  EXPECT_LT(grey.left, 30);

  // A colour written now shows at once; the disabled look returns when
  // ButtonEnabled is written again.
  a.Control()->put_ButtonBackColor(RGB(0, 0, 255));
  EXPECT_EQ(Take(a.Window()).At(150, 20), RGB(0, 0, 255));
  a.Control()->put_ButtonEnabled(VARIANT_FALSE);
  EXPECT_EQ(Take(a.Window()).At(150, 20), RGB(224, 224, 224));
  a.Control()->put_ButtonEnabled(VARIANT_TRUE);
  s = Take(a.Window());
  EXPECT_EQ(s.At(150, 20), RGB(0, 0, 255));
  EXPECT_EQ(s.At(84, 0), RGB(0, 0, 0));
}

// ---------------------------------------------------------------- persistence

TEST_F(QuillonTest, SavingANewButtonLeavesOutTheBagDefaults) {
  PlaceNew(a);
  auto bag = RecordingBag::New();
  auto persist = a.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag);
  ASSERT_EQ(persist->Save(bag.Get(), TRUE, FALSE), S_OK);
  // Caption "Quillon", no picture, black, picture left, stretch and enabled
  // are the defaults; the new button's form, colour and text alignment are not.
  EXPECT_EQ(bag->written,
            (std::vector<std::wstring>{L"ButtonForm", L"ButtonBackColor", L"ButtonFont", L"ButtonTextAlign"}));
  Var v;
  v.v = bag->Get(L"buttonform");
  EXPECT_EQ(V_VT(&v.v), VT_I4);
  EXPECT_EQ(V_I4(&v.v), 4);
  VariantClear(&v.v);
  v.v = bag->Get(L"ButtonBackColor");
  EXPECT_EQ(V_I4(&v.v), static_cast<LONG>(0x80000005));
  VariantClear(&v.v);
  v.v = bag->Get(L"ButtonTextAlign");
  EXPECT_EQ(V_I4(&v.v), 0);
  EXPECT_EQ(bag->TypeOf(L"ButtonFont"), VT_DISPATCH);
}

TEST_F(QuillonTest, SaveAllWritesEveryEntryInOrder) {
  PlaceNew(a);
  auto bag = RecordingBag::New();
  ASSERT_EQ(a.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(bag.Get(), TRUE, TRUE), S_OK);
  EXPECT_EQ(bag->written, (std::vector<std::wstring>{L"ButtonForm", L"ButtonBackColor", L"ButtonCaption", L"ButtonFont",
                                                     L"ButtonFontColor", L"ButtonPictureAlign", L"ButtonTextAlign",
                                                     L"ButtonPictureStretch", L"ButtonEnabled"}));
  EXPECT_EQ(bag->TypeOf(L"ButtonPictureStretch"), VT_BOOL);
  EXPECT_EQ(bag->TypeOf(L"ButtonCaption"), VT_BSTR);
}

TEST_F(QuillonTest, EmptyBagGivesTheBagDefaultsNotTheNewInstanceValues) {
  auto bag = PropertyBag::New();
  PlaceFrom(bag.Get(), a);
  PlaceNew(b);
  BtnForms formA, formB;
  a.Control()->get_ButtonForm(&formA);
  b.Control()->get_ButtonForm(&formB);
  EXPECT_EQ(formA, Rechteck);
  EXPECT_EQ(formB, gerundetesRechteck);
  OLE_COLOR backA, backB;
  a.Control()->get_ButtonBackColor(&backA);
  b.Control()->get_ButtonBackColor(&backB);
  EXPECT_EQ(backA, 0xFFFFFFu);
  EXPECT_EQ(backB, 0x80000005u);
  BtnAlign alignA, alignB;
  a.Control()->get_ButtonTextAlign(&alignA);
  b.Control()->get_ButtonTextAlign(&alignB);
  EXPECT_EQ(alignA, Mitte);
  EXPECT_EQ(alignB, Links);
  OLE_COLOR ink = 1;
  a.Control()->get_ButtonFontColor(&ink);
  EXPECT_EQ(ink, 0u);
  EXPECT_EQ(Caption(a), L"Quillon");
  // As drawn: a plain rectangle reaches its corner, the new one is rounded.
  EXPECT_EQ(Take(a.Window()).At(0, 0), RGB(0, 0, 0));
  EXPECT_NE(Take(b.Window()).At(0, 0), RGB(0, 0, 0));
}

TEST_F(QuillonTest, LoadingRunsEachPropertyInTheBagOrder) {
  auto bag = PropertyBag::New();
  PlaceFrom(bag.Get(), a);
  EXPECT_EQ(journal.changes,
            (std::vector<std::wstring>{L"ButtonForm", L"ButtonBackColor", L"ButtonCaption", L"ButtonPicture",
                                       L"ButtonFont", L"ButtonFontColor", L"ButtonPictureAlign", L"ButtonTextAlign",
                                       L"ButtonPictureStretch", L"ButtonEnabled"}));
}

TEST_F(QuillonTest, ErrorReportLayoutLoadsAsACentredRectangle) {
  // qbtnCopy: caption, colour and font only; names in lower case as the
  // container stores them.
  auto bag = PropertyBag::New();
  Var caption;
  caption.v = Str(L"Fehlerbericht kopieren");
  bag->Put(L"buttoncaption", caption.v);
  bag->Put(L"buttonbackcolor", I4(static_cast<LONG>(0x80000005)));
  ComPtr<IFontDisp> font = Font(L"MS Sans Serif", 9.75);
  bag->PutObject(L"buttonfont", font.Get());
  PlaceFrom(bag.Get(), a, At(9840, 6240, 2655, 375));
  EXPECT_EQ(Caption(a), L"Fehlerbericht kopieren");
  BtnForms form;
  a.Control()->get_ButtonForm(&form);
  EXPECT_EQ(form, Rechteck);
  BtnAlign align;
  a.Control()->get_ButtonTextAlign(&align);
  EXPECT_EQ(align, Mitte);
  VARIANT_BOOL stretch;
  a.Control()->get_ButtonPictureStretch(&stretch);
  EXPECT_EQ(stretch, VARIANT_TRUE);
  ComPtr<IFontDisp> loaded;
  a.Control()->get_ButtonFont(loaded.Put());
  EXPECT_TRUE(SameFont(loaded, Font(L"MS Sans Serif", 9.75)));
  // The caption is centred: as much room on either side.
  const RECT text = TextBounds(Take(a.Window()));
  const int leftRoom = text.left, rightRoom = 177 - text.right;
  EXPECT_LE(std::abs(leftRoom - rightRoom), 3) << leftRoom << " " << rightRoom;
}

TEST_F(QuillonTest, RoundTripKeepsEveryValue) {
  PlaceNew(a);
  _Quillon* q = a.Control();
  ComPtr<IPictureDisp> icon = SolidIcon(32, kRed);
  ComPtr<IFontDisp> font = Font(L"Tahoma", 11, true);
  BSTR caption = SysAllocString(L"Änderungen übernehmen");
  q->put_ButtonCaption(caption);
  SysFreeString(caption);
  q->put_ButtonForm(Oval);
  q->put_ButtonBackColor(0x80000018);
  q->putref_ButtonPicture(icon.Get());
  q->putref_ButtonFont(font.Get());
  q->put_ButtonFontColor(0x00336699);
  q->put_ButtonPictureAlign(Rechts);
  q->put_ButtonTextAlign(Mitte);
  q->put_ButtonPictureStretch(VARIANT_FALSE);
  q->put_ButtonEnabled(VARIANT_FALSE);

  auto bag = RecordingBag::New();
  ASSERT_EQ(a.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(bag.Get(), TRUE, FALSE), S_OK);
  // Centred text is the bag's default and stays out.
  EXPECT_EQ(bag->written, (std::vector<std::wstring>{
                              L"ButtonForm", L"ButtonBackColor", L"ButtonCaption", L"ButtonPicture", L"ButtonFont",
                              L"ButtonFontColor", L"ButtonPictureAlign", L"ButtonPictureStretch", L"ButtonEnabled"}));
  PlaceFrom(bag.Get(), b);
  _Quillon* r = b.Control();
  EXPECT_EQ(Caption(b), L"Änderungen übernehmen");
  BtnForms form;
  r->get_ButtonForm(&form);
  EXPECT_EQ(form, Oval);
  OLE_COLOR colour;
  r->get_ButtonBackColor(&colour);
  EXPECT_EQ(colour, 0x80000018u);
  r->get_ButtonFontColor(&colour);
  EXPECT_EQ(colour, 0x00336699u);
  BtnAlign align;
  r->get_ButtonPictureAlign(&align);
  EXPECT_EQ(align, Rechts);
  r->get_ButtonTextAlign(&align);
  EXPECT_EQ(align, Mitte);
  VARIANT_BOOL flag;
  r->get_ButtonPictureStretch(&flag);
  EXPECT_EQ(flag, VARIANT_FALSE);
  r->get_ButtonEnabled(&flag);
  EXPECT_EQ(flag, VARIANT_FALSE);
  ComPtr<IFontDisp> loadedFont;
  r->get_ButtonFont(loadedFont.Put());
  EXPECT_NE(loadedFont.Get(), font.Get());
  EXPECT_TRUE(SameFont(loadedFont, font));
  ComPtr<IPictureDisp> loadedPicture;
  r->get_ButtonPicture(loadedPicture.Put());
  ASSERT_TRUE(loadedPicture);
  EXPECT_NE(loadedPicture.Get(), icon.Get());  // made anew from its persisted form
  OLE_XSIZE_HIMETRIC width = 0;
  loadedPicture.As<IPicture>()->get_Width(&width);
  EXPECT_EQ(MulDiv(width, 96, 2540), 32);
  // Both draw the same: enabled or not, picture on the right.
  r->put_ButtonEnabled(VARIANT_TRUE);
  q->put_ButtonEnabled(VARIANT_TRUE);
  EXPECT_EQ(BoundsOf(Take(b.Window()), kRed).left, BoundsOf(Take(a.Window()), kRed).left);
}

TEST_F(QuillonTest, EmptyCaptionIsSavedAndDefaultCaptionIsNot) {
  PlaceNew(a);
  BSTR empty = SysAllocString(L"");
  a.Control()->put_ButtonCaption(empty);
  SysFreeString(empty);
  auto bag = PropertyBag::New();
  ASSERT_EQ(a.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(bag.Get(), TRUE, FALSE), S_OK);
  ASSERT_TRUE(bag->Has(L"ButtonCaption"));
  PlaceFrom(bag.Get(), b);
  EXPECT_EQ(Caption(b), L"");
  const RECT text = TextBounds(Take(b.Window()));
  EXPECT_GE(text.left, text.right);  // nothing drawn
}

TEST_F(QuillonTest, LoadWithoutAFontKeepsTheCaptionFontButNeverHandsItOut) {
  auto bag = PropertyBag::New();
  PlaceFrom(bag.Get(), a);
  ComPtr<IFontDisp> font;
  a.Control()->get_ButtonFont(font.Put());
  EXPECT_TRUE(SameFont(font, Font(L"MS Sans Serif", 12)));  // the start-up's
  // It is a font of the button's like, not the caption's own object, so it
  // is saved like any other.
  auto saved = PropertyBag::New();
  ASSERT_EQ(a.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(saved.Get(), TRUE, FALSE), S_OK);
  EXPECT_TRUE(saved->Has(L"ButtonFont"));
}

TEST_F(QuillonTest, LoadStopsAtTheFirstBadEntry) {
  auto bag = PropertyBag::New();
  bag->Put(L"ButtonForm", I4(9));
  bag->Put(L"ButtonBackColor", I4(0xFF));
  Button probe;
  EXPECT_EQ(Button::Place(window->hwnd, At(0, 0, 1000, 500), bag.Get(), &journal, probe), CTL_E_INVALIDPROPERTYVALUE);
  probe.Remove();

  auto mismatch = PropertyBag::New();
  Var text;
  text.v = Str(L"abc");
  mismatch->Put(L"ButtonForm", text.v);
  EXPECT_EQ(Button::Place(window->hwnd, At(0, 0, 1000, 500), mismatch.Get(), &journal, probe), DISP_E_TYPEMISMATCH);
  probe.Remove();

  // Load on a live button: the colour after the bad form is never read.
  PlaceNew(a);
  EXPECT_EQ(a.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag)->Load(bag.Get(), nullptr),
            CTL_E_INVALIDPROPERTYVALUE);
  OLE_COLOR colour;
  a.Control()->get_ButtonBackColor(&colour);
  EXPECT_EQ(colour, 0x80000005u);
}

TEST_F(QuillonTest, SaveStopsAtTheFirstFailingWrite) {
  PlaceNew(a);
  BSTR caption = SysAllocString(L"Ok");
  a.Control()->put_ButtonCaption(caption);
  SysFreeString(caption);
  auto bag = RecordingBag::New();
  bag->failName = L"ButtonCaption";
  bag->failWriteOf = STG_E_MEDIUMFULL;
  EXPECT_EQ(a.ole.As<IPersistPropertyBag>(IID_IPersistPropertyBag)->Save(bag.Get(), TRUE, FALSE), STG_E_MEDIUMFULL);
  EXPECT_EQ(bag->written, (std::vector<std::wstring>{L"ButtonForm", L"ButtonBackColor", L"ButtonCaption"}));
}

// ---------------------------------------------------------------- COM plumbing

TEST_F(QuillonTest, ConnectionPointsAreFoundAndEnumerated) {
  PlaceNew(a);
  auto container = a.ole.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.Put()), S_OK);
  std::vector<IID> iids;
  IConnectionPoint* point = nullptr;
  while (points->Next(1, &point, nullptr) == S_OK) {
    IID iid;
    point->GetConnectionInterface(&iid);
    iids.push_back(iid);
    point->Release();
  }
  ASSERT_EQ(iids.size(), 2u);
  EXPECT_TRUE(IsEqualIID(iids[0], DIID___Quillon));
  EXPECT_TRUE(IsEqualIID(iids[1], IID_IPropertyNotifySink));
  ComPtr<IConnectionPoint> none;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, none.Put()), CONNECT_E_NOCONNECTION);
  ComPtr<IConnectionPoint> events;
  container->FindConnectionPoint(DIID___Quillon, events.Put());
  EXPECT_EQ(events->Unadvise(12345), CONNECT_E_NOCONNECTION);

  auto info = a.ole.As<IProvideClassInfo2>(IID_IProvideClassInfo2);
  GUID source{};
  ASSERT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, DIID___Quillon));
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(info->GetClassInfo(coclass.Put()), S_OK);
  TYPEATTR* attr = nullptr;
  coclass->GetTypeAttr(&attr);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_Quillon));
  coclass->ReleaseTypeAttr(attr);
}

TEST_F(QuillonTest, AccessKeyClicksOnlyWhileEnabledAndResizeIsNeverRaised) {
  PlaceNew(a);
  journal.Clear();
  auto control = a.ole.As<IOleControl>(IID_IOleControl);
  MSG msg{};
  control->OnMnemonic(&msg);
  a.Control()->put_ButtonEnabled(VARIANT_FALSE);
  control->OnMnemonic(&msg);
  EXPECT_EQ(journal.Count(L"Click"), 1);
  CONTROLINFO info{};
  info.cb = sizeof info;
  ASSERT_EQ(control->GetControlInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags & CTRLINFO_EATS_RETURN, static_cast<DWORD>(CTRLINFO_EATS_RETURN));
  // Frozen events are not delivered.
  a.Control()->put_ButtonEnabled(VARIANT_TRUE);
  control->FreezeEvents(TRUE);
  control->OnMnemonic(&msg);
  control->FreezeEvents(FALSE);
  EXPECT_EQ(journal.Count(L"Click"), 1);
  control->OnMnemonic(&msg);
  EXPECT_EQ(journal.Count(L"Click"), 2);
  EXPECT_EQ(journal.Count(L"Resize"), 0);
}

TEST_F(QuillonTest, HidingAndClosingGoThroughTheVerbs) {
  PlaceNew(a);
  HWND hwnd = a.Window();
  EXPECT_TRUE(IsWindowVisible(hwnd));
  ASSERT_EQ(a.Ole()->DoVerb(OLEIVERB_HIDE, nullptr, nullptr, 0, window->hwnd, nullptr), S_OK);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  ASSERT_EQ(a.Ole()->DoVerb(OLEIVERB_SHOW, nullptr, nullptr, 0, window->hwnd, nullptr), S_OK);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  ASSERT_EQ(a.Ole()->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(journal.activation, (std::vector<std::wstring>{L"activate", L"deactivate"}));
}

TEST(Unloading, LibraryCanUnloadExactlyWhenNothingIsAlive) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"Quillon2.Quillon", &clsid), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(factory.Put())),
            S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the class object itself

  ComPtr<IUnknown> button;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(button.Put())), S_OK);
  ComPtr<IUnknown> outer;
  EXPECT_EQ(factory->CreateInstance(button.Get(), IID_IUnknown, reinterpret_cast<void**>(outer.Put())),
            CLASS_E_NOAGGREGATION);
  factory->LockServer(TRUE);
  factory.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the button and the lock

  // Every reference the button hands out keeps it, and the library, alive.
  auto dispatch = button.As<IDispatch>(IID_IDispatch);
  auto container = button.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
  ComPtr<IEnumConnectionPoints> points;
  container->EnumConnectionPoints(points.Put());
  ComPtr<IConnectionPoint> point;
  container->FindConnectionPoint(DIID___Quillon, point.Put());
  button.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  dispatch.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  container.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  points.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  point.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // only the lock now

  CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(factory.Put()));
  factory->LockServer(FALSE);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  factory.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(Unloading, PlacedButtonsReleaseEverythingWhenRemoved) {
  HostWindow window;
  Journal journal;
  Button first, second;
  ASSERT_EQ(Button::Place(window.hwnd, At(120, 120, 2535, 615), nullptr, &journal, first), S_OK);
  ASSERT_EQ(Button::Place(window.hwnd, At(120, 840, 2535, 615), nullptr, &journal, second), S_OK);
  first.Remove();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  second.Remove();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace host
