/* A library a plug-in needs, shipped in the plug-in's own folder. */
int ArdxHelperLuma(void) { return 16; }
