// Icon images in the forms the builder stores: the pixels Windows shows for
// a bitmap, and the PNG files written from them, read back by a decoder of
// its own (stb_image) and compared with what the bitmap showed.
#include "pe/icon_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe/png_writer.h"
#include "tests/support/icon_images.h"

namespace qorn {
namespace {

using icons::Bytes;
using icons::Picture;

Picture pixelsOf(const Bytes& bmp, std::string& why) {
    Picture p;
    if (!encode::bitmapPixels(bmp, p.width, p.height, p.rgba, why)) return Picture();
    return p;
}

// Every bitmap layout an icon file carries, odd widths among them (rows
// padded to four bytes, masks to 32 pixels): the pixels as shown, then the
// PNG file of them, read back.
TEST(IconImages, ABitmapsPngShowsWhatTheBitmapShows) {
    struct Case {
        Picture picture;
        unsigned bits;
    };
    const std::vector<Case> cases = {
        {icons::drawIcon(48, 0, 1), 32},   {icons::drawIcon(16, 60, 2), 32},
        {icons::drawIcon(33, 20, 3), 24},  {icons::drawFlat(13, 7, 8), 8},
        {icons::drawFlat(35, 9, 4), 4},    {icons::drawFlat(17, 33, 1), 1},
        {icons::drawIcon(256, 10, 4), 32}, {icons::drawIcon(20, 5, 5, true), 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.picture.width) + "x" + std::to_string(c.picture.height) +
                     ", " + std::to_string(c.bits) + " bits");
        const Picture expected = icons::shown(c.picture, c.bits);
        std::string why;
        const Picture shown = pixelsOf(icons::bitmapOf(c.picture, c.bits), why);
        EXPECT_EQ(why, "");
        EXPECT_TRUE(shown == expected);
        const Bytes png = encode::pngFile(shown.width, shown.height, shown.rgba);
        Picture back;
        ASSERT_TRUE(icons::readPng(png, back));
        EXPECT_TRUE(back == expected);
        // An opaque picture needs no alpha channel: colour type 2, else 6.
        ASSERT_GT(png.size(), 25u);
        bool opaque = true;
        for (size_t i = 3; i < expected.rgba.size(); i += 4)
            opaque = opaque && expected.rgba[i] == 255;
        EXPECT_EQ(png[25], opaque ? 2 : 6);
        EXPECT_EQ(encode::pngFile(shown.width, shown.height, shown.rgba), png) << "not repeatable";
    }
}

// A 32-bit bitmap whose alpha is 0 throughout is shown by its mask, as the
// other layouts are.
TEST(IconImages, A32BitBitmapWithoutAlphaIsShownByItsMask) {
    const Picture flat = icons::drawFlat(24, 24, 8);
    Bytes bmp = icons::bitmapOf(flat, 32);
    for (size_t i = 0; i < size_t{24} * 24; ++i) {
        uint8_t* px = &bmp[40 + 4 * i];
        const size_t x = i % 24, y = 23 - i / 24;
        if (flat.rgba[4 * (y * 24 + x) + 3] == 0) px[0] = px[1] = px[2] = 0;
        px[3] = 0;
    }
    std::string why;
    EXPECT_TRUE(pixelsOf(bmp, why) == icons::shown(flat, 24)) << why;
}

// What no RGBA pixels can stand for, and layouts not read, are refused with
// the reason; the image then keeps its bitmap.
TEST(IconImages, BitmapsThatNoPngCanShowAreRefusedWithTheReason) {
    const Picture flat = icons::drawFlat(16, 16, 4);
    // A mask bit over a colour: the screen behind is inverted.
    Bytes inverting = icons::bitmapOf(flat, 24);
    inverting[40] = 0x80;  // bottom row, first pixel: masked (x + y < 3 at the top only)
    inverting[40 + 3 * 16 * 16] |= 0x80;
    Bytes palette = icons::bitmapOf(flat, 4);
    palette[32] = 3;  // three colours listed; the pixels use more
    Bytes sixteen = icons::bitmapOf(icons::drawIcon(16, 0, 1), 32);
    sixteen[14] = 16;
    Bytes masks = icons::bitmapOf(icons::drawIcon(16, 0, 1), 32);
    masks[16] = 3;
    masks.resize(masks.size() + 12);  // room for the three masks after the header
    const std::vector<std::pair<Bytes, std::string>> refused = {
        {inverting, "inverts the screen"},
        {palette, "of a palette of 3"},
        {sixteen, "16-bit pixels"},
        {masks, "colour masks"},
        {Bytes(20, 0), "no bitmap an icon can show"},
    };
    for (const auto& [bmp, reason] : refused) {
        std::string why;
        Picture p;
        EXPECT_FALSE(encode::bitmapPixels(bmp, p.width, p.height, p.rgba, why)) << reason;
        EXPECT_NE(why.find(reason), std::string::npos) << reason << ": " << why;
    }
    // The PNG writer refuses pixels that do not match the size given.
    EXPECT_TRUE(encode::pngFile(4, 4, Bytes(4 * 15)).empty());
    EXPECT_TRUE(encode::pngFile(0, 4, Bytes()).empty());
}

}  // namespace
}  // namespace qorn
