/* Sample plug-in: turns every picture grey by setting its chroma to the
 * neutral value. Takes no arguments.
 *
 *     ardentix-convert --to mp4 --option vhook=/usr/lib/x86_64-linux-gnu/ardentix/hooks/grey.so film.rm */
#include <stddef.h>
#include <string.h>

#include "ardentix-hook.h"
#include "plugins/PlanarYuv.h"

void Process(void *ctx, ArdxHookPicture *picture, int pix_fmt, int width, int height, int64_t pts) {
    int sx, sy;
    (void)ctx;
    (void)pts;
    if (ChromaShift(pix_fmt, &sx, &sy) != 0) return;
    const int cw = ChromaSize(width, sx), ch = ChromaSize(height, sy);
    for (int plane = 1; plane <= 2; ++plane)
        for (int y = 0; y < ch; ++y)
            memset(picture->data[plane] + (ptrdiff_t)y * picture->linesize[plane], 128, (size_t)cw);
}
