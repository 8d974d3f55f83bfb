// Arithmetic shared by the effect kernels: the output sample rule, decibel
// gains and the zero-filled allocation the kernels use. Plain C++ with no
// platform header, so the kernels also build as native code.
#pragma once
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum { DspMaxChannels = 8 };

// Output sample rule: clamp to [-32767, 32767], round to a multiple of 1/65536,
// then take the largest integer not above it. NaN gives 0.
inline short DspOutputSample(double y)
{
    if (!(y == y)) return 0;
    if (y > 32767.0) y = 32767.0;
    if (y < -32767.0) y = -32767.0;
    double t = y + 103079215104.0;
    int32_t low;
    memcpy(&low, &t, sizeof low);
    return static_cast<short>(low >> 16);
}

inline double DspDbToGain(double db) { return pow(10.0, db / 20.0); }

// Zero-filled blocks for kernel state (delay lines, filters, windows). The
// plug-ins take them from the process heap; a native build supplies its own.
void* DspAlloc(size_t bytes);
void DspFree(void* p);
