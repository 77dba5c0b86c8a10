int ardentix_stub_marker(void) { return 1; }
