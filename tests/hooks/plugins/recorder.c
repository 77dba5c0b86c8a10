/* Records what the engine hands it, for the tests to read through
 * RecorderText: each call appends a line. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ardentix-hook.h"

static char text[8192];

static void Append(const char *line) {
    const size_t used = strlen(text);
    if (used + strlen(line) + 2 < sizeof text) {
        strcat(text, line);
        strcat(text, "\n");
    }
}

const char *RecorderText(void) { return text; }
void RecorderClear(void) { text[0] = '\0'; }

int Configure(void **ctxp, int argc, char *argv[]) {
    char line[1024];
    int n = snprintf(line, sizeof line, "configure %d", argc);
    for (int i = 0; i < argc && n > 0 && (size_t)n < sizeof line; ++i)
        n += snprintf(line + n, sizeof line - (size_t)n, " [%s]", argv[i]);
    Append(argv[argc] == NULL ? line : "configure without the closing NULL");
    int *ctx = malloc(sizeof *ctx);
    if (!ctx) return -1;
    *ctx = argc;
    *ctxp = ctx;
    return 0;
}

void Process(void *ctx, ArdxHookPicture *picture, int pix_fmt, int width, int height, int64_t pts) {
    char line[128];
    (void)picture;
    snprintf(line, sizeof line, "process %d %d %dx%d %lld", ctx ? *(int *)ctx : -1, pix_fmt, width, height,
             (long long)pts);
    Append(line);
}

void Release(void *ctx) {
    char line[64];
    snprintf(line, sizeof line, "release %d", ctx ? *(int *)ctx : -1);
    Append(line);
    free(ctx);
}
