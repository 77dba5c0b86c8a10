// Soft 3:2 pulldown: a handful of header bits after byte-aligned start codes.
#include "core/Pulldown.h"

#include <algorithm>

#include "binding/FFmpegLoader.h"
#include "core/FFmpegException.h"

namespace {

// Start code values (the byte after 00 00 01).
constexpr uint8_t PictureCode = 0x00;
constexpr uint8_t LastSliceCode = 0xAF;
constexpr uint8_t SequenceCode = 0xB3;
constexpr uint8_t ExtensionCode = 0xB5;
constexpr uint8_t GroupCode = 0xB8;
// Extension ids, the high four bits of the byte after the start code.
constexpr uint8_t SequenceExtension = 1;
constexpr uint8_t PictureCodingExtension = 8;
constexpr uint8_t Film = 1;      // frame_rate_code of 24000/1001
constexpr uint8_t Ntsc = 4;      // frame_rate_code of 30000/1001
constexpr uint8_t FramePicture = 3;  // picture_structure: both fields in one picture

void RewriteSequenceHeader(uint8_t* body, size_t left, TPulldownState& state) {
    if (left < 4) return;  // sizes (3 bytes), then aspect and frame_rate_code
    state.film = (body[3] & 0x0F) == Film;
    if (state.film) body[3] = static_cast<uint8_t>((body[3] & 0xF0) | Ntsc);
}

// The group's time code counts 24 film pictures a second; it becomes the
// 29.97 video frame (30 a second, no frames dropped) where that picture starts.
void RewriteGroupTimeCode(uint8_t* body, size_t left) {
    if (left < 4) return;
    const uint32_t v = uint32_t(body[0]) << 24 | uint32_t(body[1]) << 16 | uint32_t(body[2]) << 8 | body[3];
    const int64_t hours = v >> 26 & 31, minutes = v >> 20 & 63, seconds = v >> 13 & 63, pictures = v >> 7 & 63;
    if (minutes > 59 || seconds > 59 || pictures > 23) return;  // no time code of film
    const int64_t frames = PulldownFieldsBefore(((hours * 60 + minutes) * 60 + seconds) * 24 + pictures) / 2;
    const uint32_t code = uint32_t(frames / 108000 % 24) << 26 | uint32_t(frames / 1800 % 60) << 20 | 1u << 19 |
                          uint32_t(frames / 30 % 60) << 13 | uint32_t(frames % 30) << 7 | (v & 0x7F);
    for (int i = 0; i < 4; ++i) body[i] = static_cast<uint8_t>(code >> (24 - 8 * i));
}

// Sets top_field_first and repeat_first_field of a progressive frame picture;
// false when the extension is short or the picture cannot repeat a field.
bool RewritePictureCoding(uint8_t* body, size_t left, int64_t display) {
    if (left < 5) return false;
    const bool frame_picture = (body[2] & 0x03) == FramePicture;
    const bool progressive_frame = (body[4] & 0x80) != 0;
    if (!frame_picture || !progressive_frame) return false;
    const int64_t phase = display % 4;
    const bool top_first = phase == 0 || phase == 3;
    const bool repeat = phase % 2 == 0;
    body[3] = static_cast<uint8_t>((body[3] & ~0x82) | (top_first ? 0x80 : 0) | (repeat ? 0x02 : 0));
    return true;
}

}  // namespace

int64_t RewritePulldownHeaders(uint8_t* data, size_t size, TPulldownState& state) {
    if (!data) return -1;
    int64_t picture = -1;  // display index of the picture header seen in this packet
    for (size_t at = 0; at + 4 <= size; ++at) {
        if (data[at] != 0 || data[at + 1] != 0 || data[at + 2] != 1) continue;
        const uint8_t code = data[at + 3];
        uint8_t* body = data + at + 4;
        const size_t left = size - at - 4;
        if (code == SequenceCode) {
            RewriteSequenceHeader(body, left, state);
        } else if (code == GroupCode) {
            state.group_start += state.group_length;
            state.group_length = 0;
            if (state.film) RewriteGroupTimeCode(body, left);
        } else if (code == PictureCode && state.film && left >= 2) {
            const int64_t temporal_reference = (body[0] << 2) | (body[1] >> 6);
            picture = state.group_start + temporal_reference;
            state.group_length = std::max(state.group_length, temporal_reference + 1);
        } else if (code == ExtensionCode && state.film && left >= 2) {
            const uint8_t id = body[0] >> 4;
            if (id == SequenceExtension) body[1] &= static_cast<uint8_t>(~0x08);
            if (id == PictureCodingExtension && picture >= 0)
                return RewritePictureCoding(body, left, picture) ? picture : -1;
        } else if (code != PictureCode && code <= LastSliceCode && picture >= 0) {
            return -1;  // slices before a picture coding extension: no MPEG-2 picture
        }
        at += 3;
    }
    return -1;
}

int64_t PulldownFieldsBefore(int64_t n) {
    // Pairs of pictures last 3 + 2 fields; floor division so that n < 0 counts back.
    const int64_t pairs = n >= 0 ? n / 2 : -((1 - n) / 2);
    return 5 * pairs + (n - 2 * pairs) * 3;
}

void ApplyPulldown(AVPacket* pkt, AVRational time_base, TPulldownState& state) {
    if (!pkt || !pkt->data || pkt->size <= 0) return;
    if (avcodec.av_packet_make_writable(pkt) < 0) throw FFmpegException("av_malloc failed");
    const int64_t display = RewritePulldownHeaders(pkt->data, static_cast<size_t>(pkt->size), state);
    if (display < 0 || pkt->pts == AV_NOPTS_VALUE || time_base.num <= 0 || time_base.den <= 0) return;
    constexpr AVRational frame{1001, 24000};  // one film picture
    constexpr AVRational field{1001, 60000};
    if (state.origin == AV_NOPTS_VALUE) state.origin = pkt->pts - avutil.av_rescale_q(display, frame, time_base);
    const auto start = [&](int64_t n) {
        return state.origin + avutil.av_rescale_q(PulldownFieldsBefore(n), field, time_base);
    };
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = start(avutil.av_rescale_q(pkt->dts - state.origin, time_base, frame));
    pkt->pts = start(display);
    pkt->duration = start(display + 1) - pkt->pts;
}
