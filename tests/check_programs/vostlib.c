/* The library the check programs import from; built a second time with
   VOST_WITHOUT_G, as a newer or older release that lacks g. */
int f(void) { return 1; }
#ifndef VOST_WITHOUT_G
int g(void) { return 2; }
#endif
int h(void) { return 3; }
