// Numbers read from settings: what converts, how it rounds, what raises.
#include <gtest/gtest.h>

#include <functional>

#include "FakePorts.h"
#include "RaisedErrors.h"
#include "errors/ErrChain.h"
#include "errors/VbConvert.h"

namespace velmora {
namespace {

using testing::FakeFacts;
using testing::PortsScope;

int32_t RaisedBy(const std::function<void()>& f) { return testing::RaisedBy(f).Number(); }

TEST(VbConvert, CIntAcceptsBlanksSignDecimalsAndExponent) {
  FakeFacts facts;
  PortsScope scope(Ports{&facts, nullptr, nullptr, nullptr, nullptr});
  EXPECT_EQ(CInt("42"), 42);
  EXPECT_EQ(CInt("  -7 "), -7);
  EXPECT_EQ(CInt("+3"), 3);
  EXPECT_EQ(CInt("1e2"), 100);
  EXPECT_EQ(CInt("2.5"), 2);  // half to even
  EXPECT_EQ(CInt("3.5"), 4);
  EXPECT_EQ(CInt("-2.5"), -2);
  EXPECT_EQ(CInt(".6"), 1);
  EXPECT_EQ(CInt("32767"), 32767);
  EXPECT_EQ(CInt("-32768"), -32768);
  EXPECT_EQ(CLng("-2147483648"), INT32_MIN);
}

TEST(VbConvert, OutOfRangeRaisesOverflowAndNonNumbersTypeMismatch) {
  FakeFacts facts;
  PortsScope scope(Ports{&facts, nullptr, nullptr, nullptr, nullptr});
  EXPECT_EQ(RaisedBy([] { CInt("32768"); }), 6);
  EXPECT_EQ(RaisedBy([] { CInt("32767.5"); }), 6);
  EXPECT_EQ(RaisedBy([] { CInt("-32769"); }), 6);
  EXPECT_EQ(RaisedBy([] { CLng("2147483648"); }), 6);
  EXPECT_EQ(RaisedBy([] { CSng("1e39"); }), 6);
  EXPECT_EQ(RaisedBy([] { CDbl("1e999"); }), 6);
  for (const char* text : {"", "   ", "abc", "12abc", "1e", "-", ".", "1 2", "0x10"})
    EXPECT_EQ(RaisedBy([&] { CInt(text); }), 13) << '"' << text << '"';
}

TEST(VbConvert, TheLocaleDecidesTheDecimalSeparator) {
  FakeFacts facts;
  facts.decimalSeparator = ",";
  PortsScope scope(Ports{&facts, nullptr, nullptr, nullptr, nullptr});
  EXPECT_FLOAT_EQ(CSng("1,5"), 1.5f);
  EXPECT_EQ(RaisedBy([] { CSng("1.5"); }), 13);
  EXPECT_EQ(SingleText(1.5f), "1,5");
  EXPECT_EQ(SingleText(-1234.5f), "-1234,5");
  EXPECT_EQ(SingleText(2.0f), "2");
  EXPECT_EQ(SingleText(123456789.0f), "1,234568E+08");
  EXPECT_EQ(DoubleText(0.1 + 0.2), "0,3");
  // Text written by SingleText reads back as the same single.
  for (float f : {0.1f, 0.25f, 1234.567f, -0.001f}) EXPECT_EQ(CSng(SingleText(f)), f) << f;
}

}  // namespace
}  // namespace velmora
