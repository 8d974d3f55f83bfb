// Output file names from a pattern with percent codes for parts of the source
// path and tags of the track.
#pragma once
#include "vq_types.h"

enum { OutputNameBytes = 1008 };

// Builds the output path into out (OutputNameBytes bytes). With clean, tag
// texts cannot leave the folder or name a device. Returns 1, or 0 when the
// result would not fit (out is then the empty text).
int BuildOutputName(char out[OutputNameBytes], const char* pattern, const char* folder, int fileCounter,
                    const TrackInfo* track, int clean);
