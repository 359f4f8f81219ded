int d1(void) { return 7; }
int d2(void) { return 8; }
