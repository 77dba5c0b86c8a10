/* No Configure: named without arguments, it gets a NULL context and darkens
 * the picture's top-left 8x8 luma block, so that its calls show in the output. */
#include <stddef.h>
#include <string.h>

#include "ardentix-hook.h"

void Process(void *ctx, ArdxHookPicture *picture, int pix_fmt, int width, int height, int64_t pts) {
    (void)pix_fmt;
    (void)pts;
    if (ctx != NULL || width < 8 || height < 8) return;
    for (int y = 0; y < 8; ++y) memset(picture->data[0] + (ptrdiff_t)y * picture->linesize[0], 16, 8);
}
