/* A native program that stands for a .NET app host: app.exe beside app.dll. */
int main(void) { return 0; }
