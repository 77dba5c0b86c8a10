/*
 * Frame hook plug-ins for Ardentix.
 *
 * A plug-in is a shared library that exports Process and, optionally,
 * Configure and Release with the C calling convention. It is named with the
 * option "vhook": the library's path followed by its arguments, separated by
 * spaces, or by "|" when a part contains a space:
 *
 *     ardentix-convert --to mp4 --option "vhook=/usr/lib/ardentix/hooks/box.so 16 8 64 32" film.rm
 *     ardentix-convert --to mp4 --option "vhook=/opt/my hooks/box.so|16|8|64|32" film.rm
 *
 * Before the plug-in is loaded, the libraries it needs that lie in its own
 * folder are loaded from there, so a plug-in can be shipped with its helpers
 * beside it. A library stays loaded until the process ends, also when the same
 * path is named again by another task.
 *
 * Threads: Process runs on the worker thread of the task that loaded the
 * hook. Configure and Release run on the thread that opens or closes the
 * task's files: the window's when a task is set up, the task's worker when it
 * runs. Several tasks may run at once, each with its own context: keep
 * per-picture state in the context, not in globals.
 *
 * Each task calls Configure once per opening of its files and Release once
 * for each successful Configure (a waiting task closes its files and opens
 * them again when it runs, so a plug-in may see more than one pair).
 */
#ifndef ARDENTIX_HOOK_H
#define ARDENTIX_HOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A picture: four plane pointers and four line sizes (bytes from one row to
 * the next). For planar YUV, plane 0 is luma and planes 1 and 2 are chroma at
 * the format's own (sub-sampled) size. */
typedef struct ArdxHookPicture {
    uint8_t *data[4];
    int linesize[4];
} ArdxHookPicture;

/* Sets up one use of the plug-in.
 *   ctxp: where to store the context pointer handed to Process and Release
 *         (it starts as NULL; leaving it NULL is allowed).
 *   argc: number of entries in argv, at least 1 and at most 63.
 *   argv: argv[0] is the library's path as given, argv[1..argc-1] its
 *         arguments; argv[argc] is NULL. The strings live only during the call.
 * Answers 0 on success; anything else refuses the hook and fails the option
 * ("Failed to add video hook function: ..."). Without a Configure, the plug-in
 * can only be named without arguments and Process gets a NULL context. */
int Configure(void **ctxp, int argc, char *argv[]);

/* Looks at or changes one decoded picture before it is encoded.
 *   ctx:     the context Configure stored (NULL without Configure).
 *   picture: the picture's planes, writable; change them in place.
 *   pix_fmt: the picture's pixel format, a value of FFmpeg's enum
 *            AVPixelFormat (libavutil/pixfmt.h), e.g. 0 for AV_PIX_FMT_YUV420P.
 *   width, height: the picture's size in pixels.
 *   pts:     the picture's time in microseconds from the start of the input.
 * Runs on the task's worker thread; a hook sees what the hooks named before
 * it made of the picture. */
void Process(void *ctx, ArdxHookPicture *picture, int pix_fmt, int width, int height, int64_t pts);

/* Frees what Configure made, when the task closes its files; optional. */
void Release(void *ctx);

/* The types of the three entry points, for those who look them up. */
typedef int (*ArdxHookConfigure)(void **ctxp, int argc, char *argv[]);
typedef void (*ArdxHookProcess)(void *ctx, ArdxHookPicture *picture, int pix_fmt, int width, int height,
                                int64_t pts);
typedef void (*ArdxHookRelease)(void *ctx);

#ifdef __cplusplus
}
#endif

#endif
