#pragma once
// Picture operations of the video path that the linked libraries no longer
// offer in the form the path needs: the five-tap deinterlacer and padding with
// a colour. Plain functions over plane pointers, so they are tested on their own.
#include <array>
#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

// Plane pointers and line sizes of one picture (four planes at most).
struct TPictureView {
    std::array<uint8_t*, 4> data{};
    std::array<int, 4> linesize{};
};

// Deinterlaces src into dst: even rows are copied, every odd row becomes
// (-1 4 2 4 -1)/8 of the five rows around it (the rows above the first repeat
// it, the last row uses the last row for the rows below). Planar YUV with
// chroma at half or full size either way or a quarter across (also the
// full-range JPEG kinds) and grey only, with width and height multiples of 4;
// -1 otherwise, 0 when done.
int DeinterlacePicture(const TPictureView& dst, const TPictureView& src, AVPixelFormat format, int width,
                       int height);

// Pads a picture of width x height (the whole, padding included): the bands
// take the colour (Y, U, V, 8-bit video range, scaled to the format's depth;
// RGB formats get it converted); the inside is copied from src when src has
// data, else left as it is (a scaler wrote it). Any format of whole-byte
// integer samples, planar or packed; -1 for others (bits, palettes, floats).
int PadPicture(const TPictureView& dst, const TPictureView* src, int height, int width, AVPixelFormat format,
               int pad_top, int pad_bottom, int pad_left, int pad_right, const std::array<int, 3>& color);

// Bytes that `pixels` columns take in a plane of the format (rounded up to
// whole chroma samples), and the shift from picture rows to the plane's rows.
size_t PlaneBytes(const AVPixFmtDescriptor* desc, int plane, int pixels);
int PlaneRowShift(const AVPixFmtDescriptor* desc, int plane);
