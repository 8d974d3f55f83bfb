// INI settings store: reads and writes the current values of SettingRecord
// arrays in the profile file beside the owning module.
#include <windows.h>

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pyl_comlib.h"
#include "pyl_config.h"
#include "store_internal.h"

namespace pylcfg {

namespace {

const char kDefaultSection[] = "Default";
// Fallback handed to the profile reader so that a missing key can be told
// apart from a present one; it cannot come back from a file line.
const char kMissing[] = "\x01\x02pyl-missing\x02\x01";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsValueType(int32_t type) { return type >= 0 && type <= 4; }

// Copies at most `cap - 1` characters of a fixed-size record text.
void CopyField(char* out, size_t cap, const char* field, size_t fieldSize)
{
    size_t n = strnlen(field, fieldSize);
    if (n > cap - 1) n = cap - 1;
    memcpy(out, field, n);
    out[n] = 0;
}

void SectionName(char out[1024], const char* section)
{
    if (!section) section = kDefaultSection;
    size_t n = strnlen(section, 1023);
    memcpy(out, section, n);
    out[n] = 0;
}

}  // namespace

void IniPathOf(HINSTANCE module, char out[1024])
{
    out[0] = 0;
    ChangeFileExt(module, "ini", out, 1024);
    out[1023] = 0;
}

int32_t ParseInt(const char* text)
{
    const char* p = text;
    while (IsSpace(*p)) ++p;
    bool neg = false;
    if (*p == '+' || *p == '-') neg = (*p++ == '-');
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        if (v <= (int64_t)INT32_MAX + 1) v = v * 10 + (*p - '0');
        ++p;
    }
    if (neg) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return (int32_t)v;
}

double ParseDouble(const char* text)
{
    // Decimal grammar only: [ws] [sign] digits [. digits] [e [sign] digits].
    // Words such as "nan", "inf" and hexadecimal forms read as 0; results
    // beyond the double range saturate.
    const char* p = text;
    while (IsSpace(*p)) ++p;
    char clean[128];
    size_t n = 0;
    auto put = [&](char c) {
        if (n < sizeof clean - 1) clean[n++] = c;
    };
    if (*p == '+' || *p == '-') put(*p++);
    int digits = 0, kept = 0;
    long shift = 0;  // decimal exponent of digits dropped from the text
    while (*p >= '0' && *p <= '9') {
        if (kept > 0 || *p != '0') {
            if (kept < 40) put(*p), ++kept;
            else ++shift;
        }
        ++digits, ++p;
    }
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') {
            if (kept < 40) {
                if (kept > 0 || *p != '0') put(*p), ++kept;
                --shift;
            }
            ++digits, ++p;
        }
    }
    if (digits == 0 || kept == 0) return 0.0;
    long e = 0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool eneg = false;
        if (*q == '+' || *q == '-') eneg = (*q++ == '-');
        while (*q >= '0' && *q <= '9') {
            if (e < 100000) e = e * 10 + (*q - '0');
            ++q;
        }
        if (eneg) e = -e;
    }
    e += shift;
    char exp[24];
    snprintf(exp, sizeof exp, "e%ld", e);
    for (const char* c = exp; *c; ++c) put(*c);
    clean[n] = 0;
    double v = strtod(clean, nullptr);
    if (!isfinite(v)) v = (v < 0) ? -DBL_MAX : DBL_MAX;
    return v;
}

float SaturateFloat(double v)
{
    if (v > FLT_MAX) return FLT_MAX;
    if (v < -FLT_MAX) return -FLT_MAX;
    return (float)v;
}

bool FormatValue(int32_t type, const unsigned char* field, char out[1024])
{
    out[0] = 0;
    switch (static_cast<SettingType>(type)) {
    case SettingType::Text: {
        // A line break would start a new line (or section) in the file: cut there.
        const char* s = reinterpret_cast<const char*>(field);
        size_t n = strcspn(s, "\r\n");
        size_t len = strnlen(s, 1023);
        if (n > len) n = len;
        memcpy(out, s, n);
        out[n] = 0;
        return true;
    }
    case SettingType::Int16:
        snprintf(out, 1024, "%d", (int)SettingLoad<int16_t>(field));
        return true;
    case SettingType::Int32:
        snprintf(out, 1024, "%d", (int)SettingLoad<int32_t>(field));
        return true;
    case SettingType::Float: {
        double v = SettingLoad<float>(field);
        if (!isfinite(v)) return false;
        snprintf(out, 1024, "%f", v);
        return true;
    }
    case SettingType::Double: {
        double v = SettingLoad<double>(field);
        if (!isfinite(v)) return false;
        snprintf(out, 1024, "%f", v);
        return true;
    }
    default:
        return false;
    }
}

// Number of list values the limits field can hold for a type.
int ListCapacity(int32_t type)
{
    int w = SettingValueWidth(type);
    return w > 0 ? (int)(sizeof(((SettingRecord*)nullptr)->limits) / w) : 0;
}

template <typename T> static void ApplyConstraint(SettingRecord& r)
{
    T v = SettingLoad<T>(r.currentValue);
    const int32_t c = r.constraint;
    if (c == static_cast<int32_t>(ConstraintMode::Range)) {
        T lo = SettingLoad<T>(r.limits, 0), hi = SettingLoad<T>(r.limits, 1);
        if (v < lo) v = lo;
        if (v > hi) v = hi;
    } else if (c == static_cast<int32_t>(ConstraintMode::MaxOnly)) {
        T hi = SettingLoad<T>(r.limits, 0);
        if (v > hi) v = hi;
    } else if (c == static_cast<int32_t>(ConstraintMode::MinOnly)) {
        T lo = SettingLoad<T>(r.limits, 0);
        if (v < lo) v = lo;
    } else if (c > 0) {
        int n = c < ListCapacity(r.type) ? c : ListCapacity(r.type);
        bool found = false;
        for (int i = 0; i < n && !found; ++i) found = (SettingLoad<T>(r.limits, i) == v);
        if (!found) v = SettingLoad<T>(r.defaultValue);
    } else {
        v = SettingLoad<T>(r.defaultValue);
    }
    SettingStore<T>(r.currentValue, v);
}

void ReadOne(SettingRecord& r, const char* section, const char* path)
{
    if (!IsValueType(r.type)) return;
    char key[sizeof r.name + 1];
    CopyField(key, sizeof key, r.name, sizeof r.name);
    char text[1024];
    DWORD got = GetPrivateProfileStringA(section, key, kMissing, text, sizeof text, path);
    text[got < sizeof text ? got : sizeof text - 1] = 0;
    const bool missing = strcmp(text, kMissing) == 0;

    switch (static_cast<SettingType>(r.type)) {
    case SettingType::Text:
        if (missing) {
            char def[1024];
            CopyField(def, sizeof def, reinterpret_cast<const char*>(r.defaultValue),
                      sizeof r.defaultValue - 1);
            memcpy(r.currentValue, def, strlen(def) + 1);
        } else {
            memcpy(r.currentValue, text, strlen(text) + 1);
        }
        return;  // texts are never constrained
    case SettingType::Int16:
        if (missing) memcpy(r.currentValue, r.defaultValue, 2);
        else SettingStore<int16_t>(r.currentValue, (int16_t)(uint16_t)(uint32_t)ParseInt(text));
        ApplyConstraint<int16_t>(r);
        return;
    case SettingType::Int32:
        if (missing) memcpy(r.currentValue, r.defaultValue, 4);
        else SettingStore<int32_t>(r.currentValue, ParseInt(text));
        ApplyConstraint<int32_t>(r);
        return;
    case SettingType::Float:
        if (missing) memcpy(r.currentValue, r.defaultValue, 4);
        else SettingStore<float>(r.currentValue, SaturateFloat(ParseDouble(text)));
        ApplyConstraint<float>(r);
        return;
    case SettingType::Double:
        if (missing) memcpy(r.currentValue, r.defaultValue, 8);
        else SettingStore<double>(r.currentValue, ParseDouble(text));
        ApplyConstraint<double>(r);
        return;
    default:
        return;
    }
}

void WriteOne(const SettingRecord& r, const char* section, const char* path)
{
    if (!IsValueType(r.type)) return;
    char key[sizeof r.name + 1];
    CopyField(key, sizeof key, r.name, sizeof r.name);
    if (!key[0] || strpbrk(key, "\r\n")) return;  // no usable key line
    char text[1024];
    // A value with no finite text form leaves the stored value as it was.
    if (!FormatValue(r.type, r.currentValue, text)) return;
    WritePrivateProfileStringA(section, key, text, path);
}

}  // namespace pylcfg

PYLCONFIG_API int __cdecl PylConfigRead(SettingRecord* table, int count, const char* section, HINSTANCE module)
{
    if (!table || count <= 0) return 0;
    char path[1024], sect[1024];
    pylcfg::IniPathOf(module, path);
    pylcfg::SectionName(sect, section);
    for (int i = 0; i < count; ++i) pylcfg::ReadOne(table[i], sect, path);
    return 0;
}

PYLCONFIG_API int __cdecl PylConfigWrite(SettingRecord* table, int count, const char* section, HINSTANCE module)
{
    if (!table || count <= 0) return 0;
    char path[1024], sect[1024];
    pylcfg::IniPathOf(module, path);
    pylcfg::SectionName(sect, section);
    if (strpbrk(sect, "\r\n")) return 0;  // a section line cannot hold a line break
    for (int i = 0; i < count; ++i) pylcfg::WriteOne(table[i], sect, path);
    return 0;
}
