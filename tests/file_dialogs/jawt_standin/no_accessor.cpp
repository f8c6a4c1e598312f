// A jawt.dll without the accessor, as a broken runtime would have.
#include <windows.h>

extern "C" __declspec(dllexport) int jawtWithoutAccessor() { return 0; }
