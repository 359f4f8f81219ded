int dotted(void) { return 6; }
