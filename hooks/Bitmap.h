#pragma once
// A 24-bit picture: rows of blue-green-red bytes, top row first. Rows start
// 32-byte aligned so that the scaler writes them at full speed and a window
// can show them as they are (Qt's Format_BGR888 with Stride() bytes per line).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Bytes from one row to the next.
    int Stride() const { return stride_; }
    uint8_t* Bits() { return bits_.get(); }
    const uint8_t* Bits() const { return bits_.get(); }
    uint8_t* ScanLine(int y) { return bits_.get() + static_cast<ptrdiff_t>(y) * stride_; }
    const uint8_t* ScanLine(int y) const { return bits_.get() + static_cast<ptrdiff_t>(y) * stride_; }
    // The blue byte of a pixel; green and red follow it.
    uint8_t* Pixel(int x, int y) { return ScanLine(y) + 3 * x; }
    const uint8_t* Pixel(int x, int y) const { return ScanLine(y) + 3 * x; }

    // Makes the picture width x height (contents undefined); the storage is
    // kept when it is large enough. False (and an empty bitmap) when the size
    // is not positive or the memory cannot be had.
    bool SetSize(int width, int height);
    // Frees the storage; the bitmap is empty.
    void Release() {
        bits_.reset();
        capacity_ = 0;
        width_ = height_ = stride_ = 0;
    }
    // Takes the size and pixels of another bitmap, reusing this one's storage.
    bool Assign(const TBitmap& other);

    // The canvas lock, held while a hook handler paints (BasicLockable, for
    // std::lock_guard); whoever hands the bitmap to another thread takes it too.
    void lock() { canvas_.lock(); }
    void unlock() { canvas_.unlock(); }

private:
    struct TFree {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], TFree> bits_;
    size_t capacity_ = 0;  // bytes
    int width_ = 0, height_ = 0, stride_ = 0;
    std::mutex canvas_;
};
