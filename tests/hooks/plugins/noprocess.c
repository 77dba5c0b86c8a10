/* Configure and Release but no Process: not a plug-in. */
#include "ardentix-hook.h"

int Configure(void **ctxp, int argc, char *argv[]) {
    (void)ctxp, (void)argc, (void)argv;
    return 0;
}

void Release(void *ctx) { (void)ctx; }
