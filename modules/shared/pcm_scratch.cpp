// Process-heap scratch memory of the PCM converter.
#include <windows.h>

#include "pcm_converter.h"

void* PcmScratchAlloc(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }
void PcmScratchFree(void* p) { HeapFree(GetProcessHeap(), 0, p); }
