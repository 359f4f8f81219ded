int target(void) { return 4; }
int five(void) { return 5; }
