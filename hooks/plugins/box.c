/* Sample plug-in with arguments: draws a filled grey box.
 *
 *     vhook=box.so LEFT TOP WIDTH HEIGHT [LUMA]
 *
 * LEFT, TOP, WIDTH and HEIGHT in pixels of the decoded picture; LUMA from 0
 * to 255 (default 235, white). The part of the box outside the picture is
 * left out. */
#include <errno.h>
#include <stdlib.h>
#include <stddef.h>
#include <string.h>

#include "ardentix-hook.h"
#include "plugins/PlanarYuv.h"

typedef struct Box {
    int left, top, width, height, luma;
} Box;

static int ParseInt(const char *text, long low, long high, int *out) {
    char *end = NULL;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return -1;
    *out = (int)value;
    return 0;
}

int Configure(void **ctxp, int argc, char *argv[]) {
    Box box = {0, 0, 0, 0, 235};
    if (argc != 5 && argc != 6) return -1;
    if (ParseInt(argv[1], 0, 65535, &box.left) || ParseInt(argv[2], 0, 65535, &box.top) ||
        ParseInt(argv[3], 1, 65535, &box.width) || ParseInt(argv[4], 1, 65535, &box.height) ||
        (argc == 6 && ParseInt(argv[5], 0, 255, &box.luma)))
        return -1;
    Box *ctx = malloc(sizeof *ctx);
    if (!ctx) return -1;
    *ctx = box;
    *ctxp = ctx;
    return 0;
}

static void Fill(uint8_t *plane, int linesize, int x0, int y0, int x1, int y1, int value) {
    for (int y = y0; y < y1; ++y) memset(plane + (ptrdiff_t)y * linesize + x0, value, (size_t)(x1 - x0));
}

static int Min(int a, int b) { return a < b ? a : b; }

void Process(void *ctx, ArdxHookPicture *picture, int pix_fmt, int width, int height, int64_t pts) {
    const Box *box = ctx;
    int sx, sy;
    (void)pts;
    if (!box || ChromaShift(pix_fmt, &sx, &sy) != 0) return;
    const int x1 = Min(width, box->left + box->width), y1 = Min(height, box->top + box->height);
    if (box->left >= x1 || box->top >= y1) return;
    Fill(picture->data[0], picture->linesize[0], box->left, box->top, x1, y1, box->luma);
    for (int plane = 1; plane <= 2; ++plane)
        Fill(picture->data[plane], picture->linesize[plane], box->left >> sx, box->top >> sy,
             ChromaSize(x1, sx), ChromaSize(y1, sy), 128);
}

void Release(void *ctx) { free(ctx); }
