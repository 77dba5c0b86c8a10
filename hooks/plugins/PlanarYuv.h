/* What the sample plug-ins know of pixel formats: the planar YUV ones, by the
 * sub-sampling of their chroma planes. */
#ifndef ARDENTIX_PLANAR_YUV_H
#define ARDENTIX_PLANAR_YUV_H

#include <libavutil/pixfmt.h>

/* log2 of the chroma sub-sampling across (sx) and down (sy); 0 for a planar
 * YUV format, -1 for any other. */
static inline int ChromaShift(int pix_fmt, int *sx, int *sy) {
    switch (pix_fmt) {
        case AV_PIX_FMT_YUV420P: case AV_PIX_FMT_YUVJ420P: *sx = 1; *sy = 1; return 0;
        case AV_PIX_FMT_YUV422P: case AV_PIX_FMT_YUVJ422P: *sx = 1; *sy = 0; return 0;
        case AV_PIX_FMT_YUV444P: case AV_PIX_FMT_YUVJ444P: *sx = 0; *sy = 0; return 0;
        case AV_PIX_FMT_YUV440P: case AV_PIX_FMT_YUVJ440P: *sx = 0; *sy = 1; return 0;
        case AV_PIX_FMT_YUV410P: *sx = 2; *sy = 2; return 0;
        case AV_PIX_FMT_YUV411P: *sx = 2; *sy = 0; return 0;
        default: return -1;
    }
}

/* Size of a chroma plane: the luma size divided by 2^shift, rounded up. */
static inline int ChromaSize(int size, int shift) { return (size + (1 << shift) - 1) >> shift; }

#endif
