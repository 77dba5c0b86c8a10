// Soft 3:2 pulldown written into hand-made MPEG-2 headers: the pattern in
// display order, what is left alone, cut and hostile packets, the field grid.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <random>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/AvOwners.h"
#include "core/Pulldown.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// 720x480, 4:3, then the rate code; bit rate and buffer size bytes after.
Bytes Sequence(uint8_t rate_code) {
    return {0, 0, 1, 0xB3, 0x2D, 0x01, 0xE0, uint8_t(0x20 | rate_code), 0xFF, 0xFF, 0xE0, 0x18};
}
// Main profile, main level, progressive_sequence 1, 4:2:0.
const Bytes SequenceExt = {0, 0, 1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00};
const Bytes Group = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
Bytes Picture(int temporal_reference, int type) {
    const int low = (temporal_reference & 3) << 6 | type << 3;
    return {0, 0, 1, 0x00, uint8_t(temporal_reference >> 2), uint8_t(low), 0xFF, 0xF8};
}
// picture_structure, then frame_pred_frame_dct and chroma_420_type set, the
// progressive_frame bit as given.
Bytes CodingExt(int structure = 3, bool progressive = true) {
    return {0, 0, 1, 0xB5, 0x8F, 0xFF, uint8_t(0xF0 | structure), 0x41, uint8_t(progressive ? 0x80 : 0x00), 0x00};
}
const Bytes Slice = {0, 0, 1, 0x01, 0x12, 0x34, 0x00, 0x00, 0x01, 0xB5, 0x8F};  // a start code lookalike inside

// A coded picture as the encoder hands it out; a group starts with the sequence.
Bytes Packet(int temporal_reference, bool group, uint8_t rate_code = 1) {
    const int type = group ? 1 : 2;
    if (!group) return Cat({Picture(temporal_reference, type), CodingExt(), Slice});
    return Cat({Sequence(rate_code), SequenceExt, Group, Picture(temporal_reference, type), CodingExt(), Slice});
}

size_t Find(const Bytes& b, Bytes code) {
    for (size_t at = 0; at + code.size() <= b.size(); ++at)
        if (std::equal(code.begin(), code.end(), b.begin() + static_cast<long>(at))) return at;
    return std::string::npos;
}

struct TFlags {
    bool top_first, repeat, progressive_frame;
};
TFlags FlagsOf(const Bytes& packet) {
    const size_t at = Find(packet, {0, 0, 1, 0xB5, 0x8F});
    return {(packet[at + 7] & 0x80) != 0, (packet[at + 7] & 0x02) != 0, (packet[at + 8] & 0x80) != 0};
}

}  // namespace

// Display order, not coding order, sets the pattern: top fields alternate
// 3, 2, 3, 2 fields a picture, across groups of pictures, open ones too.
TEST(PulldownTest, EachPictureGetsTheFlagsOfItsPlaceInDisplayOrder) {
    struct Coded {
        int temporal_reference;
        bool group;
        int64_t display;
    };
    struct Case {
        const char* name;
        std::vector<Coded> pictures;
    };
    const Case cases[] = {
        {"I and P pictures, groups of 6",
         {{0, true, 0}, {1, false, 1}, {2, false, 2}, {3, false, 3}, {4, false, 4}, {5, false, 5},
          {0, true, 6}, {1, false, 7}, {2, false, 8}, {3, false, 9}, {0, true, 10}}},
        {"B pictures, the second group open",
         {{0, true, 0}, {3, false, 3}, {1, false, 1}, {2, false, 2}, {2, true, 6}, {0, false, 4},
          {1, false, 5}, {5, false, 9}, {3, false, 7}, {4, false, 8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPulldownState state;
        for (const Coded& p : c.pictures) {
            Bytes packet = Packet(p.temporal_reference, p.group);
            ASSERT_EQ(RewritePulldownHeaders(packet.data(), packet.size(), state), p.display);
            const TFlags flags = FlagsOf(packet);
            const int64_t phase = p.display % 4;
            EXPECT_EQ(flags.top_first, phase == 0 || phase == 3) << "picture " << p.display;
            EXPECT_EQ(flags.repeat, phase == 0 || phase == 2) << "picture " << p.display;
            EXPECT_TRUE(flags.progressive_frame);
            EXPECT_EQ(packet[Find(packet, {0, 0, 1, 0xB5, 0x8F}) + 7] & 0x7D, 0x41) << "other flags kept";
            if (!p.group) continue;
            EXPECT_EQ(packet[7], 0x24) << "29.97, aspect kept";
            EXPECT_EQ(packet[Find(packet, {0, 0, 1, 0xB5, 0x14}) + 5], 0x82) << "interlaced, chroma kept";
        }
    }
}

// Only film, frame pictures and progressive frames take the pattern; other
// streams and pictures keep every byte.
TEST(PulldownTest, WhatCannotTakeThePatternKeepsItsBytes) {
    struct Case {
        const char* name;
        bool after_film;  // a film sequence header came in an earlier packet
        Bytes packet;
    };
    const Case cases[] = {
        {"25 fps", false, Packet(0, true, 3)},
        {"29.97 fps", false, Packet(0, true, 4)},
        {"no sequence header seen", false, Packet(0, false)},
        {"a field picture", true, Cat({Picture(0, 1), CodingExt(1), Slice})},
        {"an interlaced frame", true, Cat({Picture(0, 1), CodingExt(3, false), Slice})},
        {"MPEG-1: slices follow the picture", true, Cat({Picture(0, 1), Slice, CodingExt()})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPulldownState state;
        Bytes film = Cat({Sequence(1), SequenceExt, Group});
        if (c.after_film) RewritePulldownHeaders(film.data(), film.size(), state);
        Bytes packet = c.packet;
        EXPECT_EQ(RewritePulldownHeaders(packet.data(), packet.size(), state), -1);
        EXPECT_EQ(packet, c.packet);
    }
}

// A packet cut anywhere is read only up to its end (the test build checks
// every read), and a header cut short is left as it was.
TEST(PulldownTest, ACutPacketIsReadToItsEndAndItsCutHeaderKept) {
    const Bytes whole = Packet(0, true);
    Bytes rewritten = whole;
    TPulldownState full;
    ASSERT_EQ(RewritePulldownHeaders(rewritten.data(), rewritten.size(), full), 0);
    const size_t flags_at = Find(whole, {0, 0, 1, 0xB5, 0x8F}) + 7;
    for (size_t size = 0; size <= whole.size(); ++size) {
        SCOPED_TRACE(size);
        // Its own allocation of exactly that size, so that a read past it is caught.
        std::unique_ptr<uint8_t[]> cut(new uint8_t[size > 0 ? size : 1]);
        std::copy(whole.begin(), whole.begin() + static_cast<long>(size), cut.get());
        TPulldownState state;
        const int64_t display = RewritePulldownHeaders(size > 0 ? cut.get() : nullptr, size, state);
        EXPECT_EQ(display, size > flags_at + 1 ? 0 : -1);
        for (size_t i = 0; i < size; ++i)
            EXPECT_EQ(cut[i], i == flags_at && display != 0 ? whole[i] : rewritten[i]) << "byte " << i;
    }
}

// Pseudo-random packets rich in start codes, one stream after another: no
// read or write outside them, and a display index is never negative but -1.
TEST(PulldownTest, HostilePacketsAreSurvived) {
    std::mt19937 random(21);
    const uint8_t likely[] = {0, 0, 0, 1, 0xB3, 0xB5, 0xB8, 0x8F, 0x14, 0xFF};
    TPulldownState state;
    for (int n = 0; n < 2000; ++n) {
        const size_t size = random() % 40;
        std::unique_ptr<uint8_t[]> packet(new uint8_t[size > 0 ? size : 1]);
        for (size_t i = 0; i < size; ++i)
            packet[i] = random() % 3 ? likely[random() % std::size(likely)] : static_cast<uint8_t>(random());
        EXPECT_GE(RewritePulldownHeaders(packet.get(), size, state), -1);
    }
    EXPECT_GE(state.group_start, 0);
}

// A group's time code counts 24 film pictures a second before and 30 video
// frames after (the frame where the picture's first field is); the closed and
// broken flags stay; what is no film time code is kept.
TEST(PulldownTest, GroupTimeCodesCountVideoFrames) {
    struct Case {
        int film[4];   // hours, minutes, seconds, pictures
        int video[4];  // the same, frames for pictures; the film's when kept
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, {0, 0, 0, 0}},     {{0, 0, 0, 18}, {0, 0, 0, 22}},
        {{0, 0, 1, 0}, {0, 0, 1, 0}},     {{1, 2, 3, 4}, {1, 2, 3, 5}},
        {{23, 59, 59, 23}, {23, 59, 59, 29}}, {{0, 0, 0, 24}, {0, 0, 0, 24}},
        {{0, 60, 0, 0}, {0, 60, 0, 0}},
    };
    const auto group = [](const int t[4]) {
        const uint32_t v = uint32_t(t[0]) << 26 | uint32_t(t[1]) << 20 | 1u << 19 | uint32_t(t[2]) << 13 |
                           uint32_t(t[3]) << 7 | 0x60;  // closed, broken
        return Bytes{0, 0, 1, 0xB8, uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::vector<int>(c.film, c.film + 4)));
        TPulldownState state;
        Bytes packet = Cat({Sequence(1), group(c.film)});
        RewritePulldownHeaders(packet.data(), packet.size(), state);
        EXPECT_EQ(Bytes(packet.begin() + 12, packet.end()), group(c.video));
    }
}

// Times move from the film grid onto the field grid at 90 kHz, the first
// picture's time kept; decoding times before presentation ones stay so; a
// packet sharing its bytes with another does not change the other's.
TEST(PulldownTest, TimesLieOnTheFieldGrid) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    const AVRational ms90{1, 90000};
    const int64_t start = 1234;
    const auto film = [&](int64_t n) { return start + avutil.av_rescale_q(n, AVRational{1001, 24000}, ms90); };
    // 1501.5 ticks a field, halves rounded up.
    const auto field = [&](int64_t n) {
        return start + static_cast<int64_t>(std::floor(static_cast<double>(PulldownFieldsBefore(n)) * 1501.5 + 0.5));
    };
    struct Coded {
        int temporal_reference;
        bool group;
        int64_t coded_index;  // the dts is this picture's film time, one picture before the first
    };
    const Coded pictures[] = {{0, true, -1}, {3, false, 0}, {1, false, 1}, {2, false, 2},
                              {0, true, 3},  {2, false, 4}, {1, false, 5}};
    TPulldownState state;
    int64_t last_dts = INT64_MIN;
    for (const Coded& p : pictures) {
        const int64_t display = state.group_start + (p.group ? state.group_length : 0) + p.temporal_reference;
        const Bytes bytes = Packet(p.temporal_reference, p.group);
        TPacketPtr shared(avcodec.av_packet_alloc());
        ASSERT_EQ(avcodec.av_new_packet(shared.get(), static_cast<int>(bytes.size())), 0);
        std::copy(bytes.begin(), bytes.end(), shared->data);
        TPacketPtr pkt(avcodec.av_packet_alloc());
        ASSERT_EQ(avcodec.av_packet_ref(pkt.get(), shared.get()), 0);
        pkt->pts = film(display);
        pkt->dts = film(p.coded_index);
        ApplyPulldown(pkt.get(), ms90, state);
        SCOPED_TRACE(display);
        EXPECT_EQ(pkt->pts, field(display));
        EXPECT_EQ(pkt->duration, field(display + 1) - field(display));
        EXPECT_NEAR(static_cast<double>(pkt->duration), display % 2 ? 3003 : 4504.5, 0.5);
        EXPECT_EQ(pkt->dts, field(p.coded_index));
        EXPECT_LE(pkt->dts, pkt->pts);
        EXPECT_GT(pkt->dts, last_dts);
        last_dts = pkt->dts;
        EXPECT_EQ(Bytes(shared->data, shared->data + shared->size), bytes) << "the shared bytes changed";
        EXPECT_EQ(FlagsOf(Bytes(pkt->data, pkt->data + pkt->size)).repeat, display % 2 == 0);
    }
}
