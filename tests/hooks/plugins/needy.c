/* Needs libardxhelper.so, which lies beside it and on no search path:
 * paints the top-left 8x8 luma block with the helper's value. */
#include <stddef.h>
#include <string.h>

#include "ardentix-hook.h"

int ArdxHelperLuma(void);

void Process(void *ctx, ArdxHookPicture *picture, int pix_fmt, int width, int height, int64_t pts) {
    (void)ctx, (void)pix_fmt, (void)pts;
    if (width < 8 || height < 8) return;
    for (int y = 0; y < 8; ++y)
        memset(picture->data[0] + (ptrdiff_t)y * picture->linesize[0], ArdxHelperLuma(), 8);
}
