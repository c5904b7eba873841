// The WMF and EMF encodings of metafile records, read back by an
// independent player (MetafileCheck).
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/MetafileCheck.h"
#include "graphics/GdiWriter.h"
#include "graphics/MetafileRecords.h"

namespace vinsk::metafile {
namespace {

using test::PlayEmf;
using test::PlayWmf;
using test::TPlayed;

constexpr TColorRef Red = ColorRef(255, 0, 0);
constexpr TColorRef Green = ColorRef(0, 128, 0);
constexpr TColorRef Blue = ColorRef(0, 0, 255);

TPenSpec Pen(TColorRef c) { return {TPenStyle::Solid, 1, c}; }

TFontSpec Font(std::int32_t escapement = 0) { return {12, escapement, 400, false, u"Arial"}; }

TText Text(std::u16string s, TPoint at = {10, 20})
{
    TText t{at, std::move(s), {}, {0, 0, 50, 30}};
    t.Advances.assign(t.Text.size(), 7);
    return t;
}

// Both encodings of one drawing, so each case checks both.
struct TBoth {
    TPlayed Emf;
    TPlayed Wmf;
};

TBoth Play(const TMetafile& mf)
{
    return {PlayEmf(EmfBytes(mf)), PlayWmf(WmfBytes(mf))};
}

void ExpectSound(const TPlayed& p)
{
    EXPECT_TRUE(p.Faults.empty()) << p.Faults.front();
    EXPECT_GE(p.Handles, p.MaxHandle + 1);
}

TEST(MetafileWriter, EveryRecordKindGivesASoundFileOfThePageSize)
{
    TMetafile mf{400, 300, {}};
    mf.Records = {TSetPen{Pen(Red)},
                  TPolyline{{{0, 0}, {100, 50}, {200, 20}}},
                  TSetBrush{{false, Green}},
                  TRectangle{{10, 10, 60, 40}},
                  TEllipse{{70, 10, 120, 40}},
                  TPolyPolygon{{{{0, 0}, {50, 0}, {25, 40}}, {{60, 0}, {90, 0}, {75, 30}}}, true},
                  TSetFont{Font()},
                  TSetTextColor{Blue},
                  TText(Text(u"Time [s]")),
                  TImage{{5, 5, 9, 7}, 2, 1, {0xFFFF0000u, 0x00000000u}}};
    const TBoth p = Play(mf);
    for (const TPlayed* f : {&p.Emf, &p.Wmf}) {
        ExpectSound(*f);
        EXPECT_EQ(f->Width, 400u);
        EXPECT_EQ(f->Height, 300u);
        ASSERT_EQ(f->LinePens.size(), 1u);
        EXPECT_EQ(f->LinePens[0], 0x000000FFu); // red as 0x00BBGGRR
        EXPECT_EQ(f->FillBrushes, (std::vector<std::uint32_t>{Green, Green, Green}));
        ASSERT_EQ(f->Texts.size(), 1u);
        EXPECT_EQ(f->Texts[0].Text, u"Time [s]");
        EXPECT_EQ(f->Texts[0].Color, 0x00FF0000u);
        EXPECT_EQ(f->Texts[0].Advances, std::vector<std::int32_t>(8, 7));
    }
    EXPECT_EQ(p.Emf.Counts.at(87), 1);  // 16-bit polyline
    EXPECT_EQ(p.Emf.Counts.at(81), 1);  // the image
    EXPECT_EQ(p.Wmf.Counts.at(0x0F43), 1);
}

TEST(MetafileWriter, TextOfOddLengthIsPaddedAndKeepsEveryAdvance)
{
    TMetafile mf{100, 100, {TSetFont{Font()}, TText(Text(u"PE [\"]")), TText(Text(u"abc"))}};
    const TBoth p = Play(mf);
    for (const TPlayed* f : {&p.Emf, &p.Wmf}) {
        ExpectSound(*f);
        ASSERT_EQ(f->Texts.size(), 2u);
        EXPECT_EQ(f->Texts[0].Text, u"PE [\"]");
        EXPECT_EQ(f->Texts[1].Text, u"abc");
        EXPECT_EQ(f->Texts[1].Advances.size(), 3u);
    }
}

TEST(MetafileWriter, CoordinatesBeyondSixteenBits)
{
    TMetafile mf{100, 100, {TSetPen{Pen(Red)}, TPolyline{{{0, 0}, {70000, -40000}}}}};
    const TBoth p = Play(mf);
    ExpectSound(p.Emf);
    EXPECT_EQ(p.Emf.Counts.count(87), 0u);
    EXPECT_EQ(p.Emf.Counts.at(4), 1); // the 32-bit polyline
    ExpectSound(p.Wmf);               // clamped, not wrapped
    EXPECT_EQ(p.Wmf.Counts.at(0x0325), 1);
}

TEST(MetafileWriter, ManyPenChangesReuseFewHandles)
{
    TMetafile mf{100, 100, {}};
    for (unsigned i = 0; i < 200; ++i) {
        mf.Records.push_back(TSetPen{Pen(ColorRef(i, 0, 0))});
        mf.Records.push_back(TPolyline{{{0, 0}, {10, 10}}});
    }
    const TBoth p = Play(mf);
    for (const TPlayed* f : {&p.Emf, &p.Wmf}) {
        ExpectSound(*f);
        ASSERT_EQ(f->LinePens.size(), 200u);
        EXPECT_EQ(f->LinePens[199], ColorRef(199, 0, 0));
        EXPECT_LE(f->Handles, 3);
    }
}

TEST(MetafileWriter, ClipChangesKeepObjectsAliveAndSelected)
{
    // Pen A is held by the SaveDC of the first clip; B and C come and go
    // inside; after the clip ends C must be selected again, and nothing the
    // saved context holds may be deleted before RestoreDC.
    TMetafile mf{200, 200, {}};
    mf.Records = {TSetPen{Pen(Red)},
                  TPolyline{{{0, 0}, {5, 5}}},
                  TSetClip{true, {10, 10, 100, 100}},
                  TSetPen{Pen(Green)},
                  TPolyline{{{0, 0}, {5, 5}}},
                  TSetPen{Pen(Blue)},
                  TPolyline{{{0, 0}, {5, 5}}},
                  TSetClip{true, {20, 20, 50, 50}},
                  TPolyline{{{0, 0}, {5, 5}}},
                  TSetClip{false, {}},
                  TPolyline{{{0, 0}, {5, 5}}},
                  TSetFont{Font()},
                  TSetTextColor{Green},
                  TSetClip{true, {0, 0, 10, 10}},
                  TText(Text(u"x")),
                  TSetClip{false, {}},
                  TText(Text(u"y"))};
    const TBoth p = Play(mf);
    for (const TPlayed* f : {&p.Emf, &p.Wmf}) {
        ExpectSound(*f);
        EXPECT_EQ(f->LinePens, (std::vector<std::uint32_t>{Red, Green, Blue, Blue, Blue}));
        EXPECT_EQ(f->LineClipped, (std::vector<bool>{false, true, true, true, false}));
        ASSERT_EQ(f->Texts.size(), 2u);
        for (const auto& t : f->Texts) {
            EXPECT_EQ(t.Color, Green);
            EXPECT_EQ(t.Align, 24u); // TA_BASELINE, also inside a SaveDC
            EXPECT_TRUE(t.Transparent);
        }
    }
}

TEST(MetafileWriter, WmfTextIsWindows1252)
{
    TMetafile mf{100, 100, {TSetFont{Font()}, TText(Text(u"\u00e9\u20ac\u0436\U0001F600."))}};
    const TPlayed p = PlayWmf(WmfBytes(mf));
    ExpectSound(p);
    ASSERT_EQ(p.Texts.size(), 1u);
    EXPECT_EQ(p.Texts[0].Text, (std::u16string{0xE9, 0x80, '?', '?', '.'}));
    // The pair's two advances become one.
    EXPECT_EQ(p.Texts[0].Advances, (std::vector<std::int32_t>{7, 7, 7, 14, 7}));
    const TPlayed e = PlayEmf(EmfBytes(mf));
    ExpectSound(e);
    EXPECT_EQ(e.Texts[0].Text, u"\u00e9\u20ac\u0436\U0001F600.");
}

TEST(MetafileWriter, WmfSplitsLinesLongerThanASixteenBitCount)
{
    std::vector<TPoint> points;
    for (std::int32_t i = 0; i < 70000; ++i)
        points.push_back({i % 1000, i / 1000});
    TMetafile mf{1000, 100, {TSetPen{Pen(Red)}, TPolyline{points}}};
    const TPlayed p = PlayWmf(WmfBytes(mf));
    ExpectSound(p);
    EXPECT_EQ(p.Counts.at(0x0325), 3);
    ExpectSound(PlayEmf(EmfBytes(mf)));
}

TEST(MetafileWriter, EmptyAndDegenerateDrawingsStillMakeAFile)
{
    TMetafile mf{0, 0, {TPolyline{{{1, 1}}}, TPolyPolygon{{{}}, false}, TText(Text(u"")), TImage{{0, 0, 1, 1}, 2, 2, {}}}};
    const TBoth p = Play(mf);
    for (const TPlayed* f : {&p.Emf, &p.Wmf}) {
        ExpectSound(*f);
        EXPECT_TRUE(f->LinePens.empty());
        EXPECT_TRUE(f->Texts.empty());
        EXPECT_EQ(f->Width, 1u);
    }
}

TEST(MetafileWriter, DibLaysTransparencyOverWhite)
{
    const TDib dib = MakeDib({{0, 0, 3, 2}, 3, 2, {0xFFFF0000u, 0x00000000u, 0x8000FF00u,
                                                    0xFF0000FFu, 0xFF000000u, 0xFFFFFFFFu}});
    ASSERT_EQ(dib.Header.size(), 40u);
    ASSERT_EQ(dib.Bits.size(), 24u); // rows of 9 bytes padded to 12
    // Bottom-up: the second row comes first, blue-green-red.
    EXPECT_EQ(std::vector<std::uint8_t>(dib.Bits.begin(), dib.Bits.begin() + 3), (std::vector<std::uint8_t>{255, 0, 0}));
    const std::uint8_t* top = dib.Bits.data() + 12;
    EXPECT_EQ(top[2], 255); // opaque red
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[3], 255); // transparent becomes white
    EXPECT_EQ(top[4], 255);
    EXPECT_EQ(top[6], 127); // half green over white
    EXPECT_EQ(top[7], 255);
}

} // namespace
} // namespace vinsk::metafile
