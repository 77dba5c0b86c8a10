#include "hooks/Bitmap.h"

#include <climits>
#include <cstring>

namespace {

constexpr size_t kAlign = 32;

size_t RoundUp(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

}  // namespace

bool TBitmap::SetSize(int width, int height) {
    // A picture of the libraries is at most 16384 pixels a side; more is no picture.
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536) {
        width_ = height_ = stride_ = 0;
        return false;
    }
    const size_t stride = RoundUp(3 * static_cast<size_t>(width));
    const size_t bytes = stride * static_cast<size_t>(height);
    if (bytes > capacity_) {
        bits_.reset(static_cast<uint8_t*>(std::aligned_alloc(kAlign, bytes)));
        capacity_ = bits_ ? bytes : 0;
        if (!bits_) {
            width_ = height_ = stride_ = 0;
            return false;
        }
    }
    width_ = width;
    height_ = height;
    stride_ = static_cast<int>(stride);
    return true;
}

bool TBitmap::Assign(const TBitmap& other) {
    if (&other == this) return true;
    if (!SetSize(other.width_, other.height_)) return false;
    std::memcpy(bits_.get(), other.bits_.get(), static_cast<size_t>(stride_) * static_cast<size_t>(height_));
    return true;
}
