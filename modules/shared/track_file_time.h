// A file's last-write time as the track information record holds it.
#pragma once
#include <windows.h>

#include "vq_types.h"

// The UTC calendar fields of a file time; false when the system cannot convert it.
inline bool TrackFileTimeFrom(const FILETIME& time, TrackFileTime* out)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&time, &st)) return false;
    out->year = st.wYear;
    out->month = st.wMonth;
    out->day = st.wDay;
    out->hour = st.wHour;
    out->minute = st.wMinute;
    out->second = st.wSecond;
    out->milliseconds = st.wMilliseconds;
    return true;
}
