// Comment frames of ID3 tags: the muxer's TXXX "comment" rewritten in place as COMM.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "core/Id3Comment.h"
#include "tests/common/Fixtures.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Size(uint32_t n, int version) {
    if (version == 4) return {uint8_t(n >> 21 & 0x7f), uint8_t(n >> 14 & 0x7f), uint8_t(n >> 7 & 0x7f), uint8_t(n & 0x7f)};
    return {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}

Bytes Frame(const std::string& id, const Bytes& body, int version = 3) {
    return Cat({Text(id), Size(static_cast<uint32_t>(body.size()), version), {0, 0}, body});
}

// A tag of the frames with `padding` zero bytes after them.
Bytes Tag(const Bytes& frames, size_t padding, int version = 3) {
    return Cat({Text("ID3"), {uint8_t(version), 0, 0}, Size(static_cast<uint32_t>(frames.size() + padding), 4),
                frames, Bytes(padding, 0)});
}

const Bytes Title = Frame("TIT2", Cat({{0}, Text("Song")}));
const Bytes Utf16Comment = {0xff, 0xfe, 'c', 0, 'o', 0, 'm', 0, 'm', 0, 'e', 0, 'n', 0, 't', 0};
const Bytes Utf16Value = {0xff, 0xfe, 'N', 0, 0xef, 0, 'c', 0, 'e', 0};

}  // namespace

TEST(Id3Comment, CommentFramesReplaceTheMuxersUserTextFrames) {
    struct {
        const char* name;
        Bytes tag;
        int converted;
        Bytes frames;  // what the tag holds afterwards, before its padding
    } const cases[] = {
        {"Latin-1", Tag(Cat({Title, Frame("TXXX", Cat({{0}, Text("comment"), {0}, Text("Nice")}))}), 10), 1,
         Cat({Title, Frame("COMM", Cat({{0}, Text("eng"), {0}, Text("Nice")}))})},
        {"UTF-16 with its byte order marks",
         Tag(Frame("TXXX", Cat({{1}, Utf16Comment, {0, 0}, Utf16Value, {0, 0}})), 0), 1,
         Frame("COMM", Cat({{1}, Text("eng"), {0xff, 0xfe, 0, 0}, Utf16Value, {0, 0}}))},
        {"ID3v2.4 sizes", Tag(Frame("TXXX", Cat({{3}, Text("Comment"), {0}, Text("x")}), 4), 0, 4), 1,
         Frame("COMM", Cat({{3}, Text("eng"), {0}, Text("x")}), 4)},
        {"other user texts stay", Tag(Frame("TXXX", Cat({{0}, Text("creation_time"), {0}, Text("2026")})), 0), 0, {}},
        {"no comment", Tag(Title, 4), 0, {}},
    };
    for (const auto& c : cases) {
        Bytes tag = c.tag;
        EXPECT_EQ(ConvertId3Comments(tag), c.converted) << c.name;
        ASSERT_EQ(tag.size(), c.tag.size()) << c.name;
        if (c.converted == 0) {
            EXPECT_EQ(tag, c.tag) << c.name;
            continue;
        }
        const Bytes head(tag.begin() + 10, tag.begin() + 10 + static_cast<long>(c.frames.size()));
        EXPECT_EQ(head, c.frames) << c.name;
        for (size_t i = 10 + c.frames.size(); i < tag.size(); ++i) ASSERT_EQ(tag[i], 0) << c.name << " at " << i;
    }
}

TEST(Id3Comment, TagsItCannotReadAreLeftAlone) {
    const Bytes comment = Frame("TXXX", Cat({{0}, Text("comment"), {0}, Text("Nice")}));
    Bytes overlong = Tag(comment, 0);
    overlong[17] = 0x7f;  // the frame claims more than the tag holds
    Bytes flagged = Tag(comment, 0);
    flagged[5] = 0x80;  // unsynchronised
    Bytes frameFlags = Tag(comment, 0);
    frameFlags[18] = 0x40;
    Bytes cut = Tag(comment, 0);
    cut.resize(cut.size() - 1);
    Bytes version2 = Tag(comment, 0);
    version2[3] = 2;
    const Bytes cases[] = {
        {},
        Text("ID3"),
        overlong,
        flagged,
        frameFlags,
        cut,
        version2,
        Tag(Frame("TXXX", Cat({{0}, Text("comment")})), 0),        // no end of its description
        Tag(Frame("TXXX", Cat({{7}, Text("comment"), {0}})), 0),  // no such encoding
        Tag(Frame("TXXX", {}), 0),
        Tag(Frame("TXXX", Cat({{1}, {'c', 0, 'o'}})), 0),
        Tag(Cat({Text("TXXX"), {0xff, 0xff, 0xff, 0xff, 0, 0}}), 0),
    };
    for (const Bytes& input : cases) {
        Bytes tag = input;
        EXPECT_EQ(ConvertId3Comments(tag), 0);
        EXPECT_EQ(tag, input);
    }
}

TEST(Id3Comment, MangledTagsNeverReadOrWriteOutside) {
    const Bytes base = Tag(Cat({Title, Frame("TXXX", Cat({{1}, Utf16Comment, {0, 0}, Utf16Value, {0, 0}}))}), 6);
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes tag = base;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < changes; ++k) tag[random() % tag.size()] = static_cast<uint8_t>(random());
        if (round % 3 == 0) tag.resize(random() % tag.size());
        const size_t size = tag.size();
        ConvertId3Comments(tag);
        ASSERT_EQ(tag.size(), size);
    }
}

TEST(Id3Comment, FileIsRewrittenInPlace) {
    ardentix::test::TempDir dir;
    const Bytes tag = Tag(Frame("TXXX", Cat({{0}, Text("comment"), {0}, Text("Nice")})), 4);
    const Bytes audio = {0xff, 0xfb, 0x90, 0x00, 1, 2, 3};
    const std::string path = dir.File("a.mp3");
    {
        std::ofstream out(path, std::ios::binary);
        const Bytes all = Cat({tag, audio});
        out.write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));
    }
    EXPECT_EQ(ConvertId3CommentsInFile(path), 1);
    std::ifstream in(path, std::ios::binary);
    const Bytes back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(back.size(), tag.size() + audio.size());
    EXPECT_EQ(Bytes(back.begin() + 10, back.begin() + 14), Text("COMM"));
    EXPECT_EQ(Bytes(back.end() - static_cast<long>(audio.size()), back.end()), audio);
    EXPECT_EQ(ConvertId3CommentsInFile(path), 0);
    EXPECT_EQ(ConvertId3CommentsInFile(dir.File("missing.mp3")), 0);
}
