// The process-wide budget for pixel memory in flight, and WebP and JPEG
// pictures decoded straight to thumbnail size under it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <webp/encode.h>

#include "raster/PixelBudget.h"
#include "raster/Rasterwerk.h"
#include "support/JpegBomb.h"
#include "support/WebpBomb.h"

using namespace raster;
using namespace std::chrono_literals;

namespace {

template <class F>
bool Eventually(F cond)
{
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

void ThumbBox(int32_t w, int32_t h, int32_t& tw, int32_t& th)
{
    tw = 80;
    th = h * 80 / w;
    if (th > 80) {
        th = 80;
        tw = w * 80 / h;
    }
}

}  // namespace

TEST(PixelBudget, AWorkerWaitsForItsShareAndAnOversizedOneGoesAlone)
{
    TPixelBudget budget(100);
    std::atomic<int> stage{0};
    std::thread first([&] {
        TPixelBudgetScope scope(budget);
        ChargePixelBudget(60);
        stage = 1;
        while (stage != 2)
            std::this_thread::yield();
    });
    ASSERT_TRUE(Eventually([&] { return stage == 1; }));
    std::atomic<bool> secondIn{false};
    std::thread second([&] {
        TPixelBudgetScope scope(budget);
        ChargePixelBudget(60);  // does not fit beside the first: waits
        secondIn = true;
    });
    ASSERT_TRUE(Eventually([&] { return budget.Waiting() == 1; }));
    EXPECT_FALSE(secondIn);
    EXPECT_EQ(budget.InFlight(), 60u);
    stage = 2;
    first.join();
    second.join();
    EXPECT_TRUE(secondIn);
    EXPECT_EQ(budget.InFlight(), 0u);
    EXPECT_EQ(budget.Peak(), 60u);

    // Larger than the whole budget: it waits until nothing else is in flight, then goes alone.
    budget.Acquire(30);
    std::atomic<bool> hugeIn{false};
    std::thread huge([&] {
        TPixelBudgetScope scope(budget);
        ChargePixelBudget(500);
        hugeIn = true;
    });
    ASSERT_TRUE(Eventually([&] { return budget.Waiting() == 1; }));
    EXPECT_FALSE(hugeIn);
    budget.Release(30);
    huge.join();
    EXPECT_TRUE(hugeIn);
    EXPECT_EQ(budget.InFlight(), 0u);
}

TEST(PixelBudget, NestedScopesAndLaterChargesNeverWaitForThemselves)
{
    TPixelBudget budget(100);
    {
        TPixelBudgetScope outer(budget);
        ChargePixelBudget(90);
        {
            TPixelBudgetScope inner(budget);  // adds to the outer scope
            ChargePixelBudget(50);            // beyond the budget, but this thread holds a share
        }
        EXPECT_EQ(budget.InFlight(), 140u);
    }
    EXPECT_EQ(budget.InFlight(), 0u);
    // Without a scope nothing is counted: pictures kept for display are not decodes in flight.
    ChargePixelBudget(1000);
    EXPECT_EQ(budget.InFlight(), 0u);

    // Many threads, each decoding pictures of 40: never more than 100 at once.
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                TPixelBudgetScope scope(budget);
                ChargePixelBudget(40);
                ChargePixelBudget(1);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_LE(budget.Peak(), 140u);  // the one earlier overrun; every later pair fits in 100
    EXPECT_EQ(budget.InFlight(), 0u);
}

TEST(WebpScaled, DecodesStraightToTheThumbnailAndReportsTheFullSize)
{
    // A lossy picture with an alpha channel and a lossless one without.
    const int w = 400, h = 300;
    std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bgra[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = 200;  // blue left, red right
            p[1] = 40;
            p[2] = x < w / 2 ? 10 : 230;
            p[3] = 255;
        }
    uint8_t* lossless = nullptr;
    const size_t losslessSize = WebPEncodeLosslessBGRA(bgra.data(), w, h, w * 4, &lossless);
    ASSERT_GT(losslessSize, 0u);
    for (size_t i = 3; i < bgra.size(); i += 4)
        bgra[i] = 128;
    uint8_t* lossy = nullptr;
    const size_t lossySize = WebPEncodeBGRA(bgra.data(), w, h, w * 4, 90, &lossy);
    ASSERT_GT(lossySize, 0u);

    for (auto [data, size] : {std::pair{lossless, losslessSize}, std::pair{lossy, lossySize}}) {
        DibHandle out;
        int32_t fw = 0, fh = 0;
        ASSERT_TRUE(DecodeWebpScaled(data, size, out, &ThumbBox, fw, fh));
        EXPECT_EQ(fw, w);
        EXPECT_EQ(fh, h);
        ASSERT_NE(out.Bits, nullptr);
        EXPECT_EQ(out.Info->bmiHeader.biWidth, 80);
        EXPECT_EQ(out.Info->bmiHeader.biHeight, 60);
        EXPECT_EQ(out.Info->bmiHeader.biBitCount, 24);
        // Bottom-up rows, BGR: left half bluish, right half reddish (half
        // transparent pixels of the lossy one blended on white).
        const uint8_t* row = out.Bits + static_cast<size_t>(out.RowBytes) * 30;
        EXPECT_GT(row[3 * 10 + 0], 150);
        EXPECT_LT(row[3 * 10 + 2], 150);
        EXPECT_GT(row[3 * 70 + 2], 200);
        deldib(out);
    }
    // Not smaller than the picture, an animation or no WebP at all: the caller decodes whole.
    auto big = [](int32_t, int32_t, int32_t& tw, int32_t& th) { tw = 800; th = 600; };
    DibHandle out;
    int32_t fw = 0, fh = 0;
    EXPECT_FALSE(DecodeWebpScaled(lossless, losslessSize, out, big, fw, fh));
    EXPECT_EQ(out.Bits, nullptr);
    const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    EXPECT_FALSE(DecodeWebpScaled(png, sizeof png, out, &ThumbBox, fw, fh));
    EXPECT_FALSE(DecodeWebpScaled(lossless, 20, out, &ThumbBox, fw, fh));
    WebPFree(lossless);
    WebPFree(lossy);
}

TEST(WebpScaled, ABombIsChargedForTheMemoryTheLibraryTakesForItself)
{
    // 4,000 x 3,000 pixels in a few dozen bytes.
    const std::vector<uint8_t> bomb = wltest::UniformLosslessWebp(4000, 3000, 10, 20, 200);
    ASSERT_LT(bomb.size(), 64u);
    TPixelBudget budget(1ull << 40);
    DibHandle out;
    int32_t fw = 0, fh = 0;
    {
        TPixelBudgetScope scope(budget);
        ASSERT_TRUE(DecodeWebpScaled(bomb.data(), bomb.size(), out, &ThumbBox, fw, fh));
    }
    EXPECT_EQ(fw, 4000);
    EXPECT_EQ(fh, 3000);
    ASSERT_NE(out.Bits, nullptr);
    EXPECT_EQ(out.Info->bmiHeader.biWidth, 80);
    EXPECT_EQ(out.Bits[0], 200);  // blue
    EXPECT_EQ(out.Bits[1], 20);
    EXPECT_EQ(out.Bits[2], 10);
    deldib(out);
    // libwebp decodes a lossless picture whole (4 bytes a pixel) whatever size is asked for.
    EXPECT_GE(budget.Peak(), 4000ull * 3000 * 4);
    EXPECT_EQ(budget.InFlight(), 0u);

    // The full decode counts the same, and the picture it makes.
    TPixelBudget full(1ull << 40);
    {
        TPixelBudgetScope scope(full);
        OpenDibFromMemory(out, bomb.data(), bomb.size(), dtWEBP);
    }
    ASSERT_NE(out.Bits, nullptr);
    EXPECT_GE(full.Peak(), 4000ull * 3000 * 4 + DibRowBytes(4000, 24) * 3000);
    deldib(out);
}

TEST(JpegReduced, AProgressiveBombIsChargedForItsCoefficientsBeforeAnythingIsTaken)
{
    // 2,048 x 2,048 pixels, chroma halved both ways: 256 x 256 luma blocks and
    // 128 x 128 of each chroma kept whole, 64 coefficients of 2 bytes a block,
    // though the picture is decoded at an eighth.
    const std::vector<uint8_t> bomb = wltest::FlatProgressiveJpeg(2048, 2048, 30, 90, 200);
    const uint64_t coefficients = (256ull * 256 + 2 * 128 * 128) * 128;
    TPixelBudget budget(1ull << 40);
    DibHandle out;
    int32_t fw = 0, fh = 0;
    {
        TPixelBudgetScope scope(budget);
        ASSERT_TRUE(DecodeJpegReduced(bomb.data(), bomb.size(), out, &ThumbBox, fw, fh));
    }
    EXPECT_EQ(fw, 2048);
    ASSERT_NE(out.Bits, nullptr);
    EXPECT_EQ(out.Info->bmiHeader.biWidth, 256);
    EXPECT_NEAR(out.Bits[0], 200, 8);  // blue, give or take the rounding of YCbCr
    deldib(out);
    EXPECT_GE(budget.Peak(), coefficients);
    EXPECT_EQ(budget.InFlight(), 0u);

    // The coefficients are the first charge, the one that waits: a second
    // decoder must not start beside one that holds most of the budget.
    TPixelBudget tight(coefficients + 1000);
    tight.Acquire(2000);
    std::atomic<bool> decoded{false};
    std::thread second([&] {
        TPixelBudgetScope scope(tight);
        DibHandle d;
        int32_t w = 0, h = 0;
        if (DecodeJpegReduced(bomb.data(), bomb.size(), d, &ThumbBox, w, h))
            deldib(d);
        decoded = true;
    });
    const bool waited = Eventually([&] { return tight.Waiting() == 1 || decoded; }) && !decoded;
    tight.Release(2000);
    second.join();
    EXPECT_TRUE(waited);
    EXPECT_TRUE(decoded);
    EXPECT_EQ(tight.InFlight(), 0u);
}
