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

namespace {

// Blanks the profile functions strip around names, values and lines.
bool IsProfileBlank(char c) { return (c >= '\t' && c <= '\r') || c == 0x1a || c == ' '; }

// Printable ASCII without '?' (the stand-in for a character the code page lacks).
bool IsPlainText(const char* s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if ((unsigned char)s[i] < 0x20 || (unsigned char)s[i] > 0x7e || s[i] == '?') return false;
    return true;
}

bool SameAsciiNoCase(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
    }
    return true;
}

// A key the in-memory lookup finds exactly as the key functions do: plain text,
// no blank at either end, not a comment, no '=' and no section bracket.
bool IsPlainKey(const char* key)
{
    size_t n = strlen(key);
    return n && IsPlainText(key, n) && key[0] != ' ' && key[n - 1] != ' ' && key[0] != ';' && key[0] != '[' &&
           !strchr(key, '=');
}

// A section name both kinds of profile call match alike: no blank at either end.
bool IsPlainSection(const char* s)
{
    size_t n = strlen(s);
    return n && !IsProfileBlank(s[0]) && !IsProfileBlank(s[n - 1]);
}

// The text the key reader returns for a stored value into a 1024-character
// buffer: one pair of matching quotes removed, cut at 1023 characters; when the
// cut falls on the closing quote, one more character goes with it.
void StoredText(const char* value, char out[1024])
{
    const char* p = value;
    size_t len = strlen(value);
    bool quoted = len > 1 && (p[0] == '\'' || p[0] == '"') && p[len - 1] == p[0];
    if (quoted) ++p, --len;
    size_t n = len < 1023 ? len : 1023;
    memcpy(out, p, n);
    if (quoted && len <= 1024) --n;
    out[n] = 0;
}

// Whether the key functions may take `other` for `key` (a plain key): the same
// name ignoring case and blanks at its ends; one outside ASCII of that length
// may match under the system's case rules.
bool MayBeSameKey(const char* other, const char* key)
{
    while (IsProfileBlank(*other)) ++other;
    size_t n = strlen(other);
    while (n && IsProfileBlank(other[n - 1])) --n;
    if (n != strlen(key)) return false;
    for (size_t i = 0; i < n; ++i)
        if ((unsigned char)other[i] > 0x7e) return true;
    return SameAsciiNoCase(other, key, n);
}

}  // namespace

// One section as the section reader returns it ("key=value" lines, each ended
// by a NUL, the last by two), so that every key is looked up in memory with one
// profile call per section. No destructor: the library stays free of the C++
// runtime's unwinding, so whoever calls Load calls Free.
class SectionView {
public:
    void Free()
    {
        if (lines_) HeapFree(GetProcessHeap(), 0, lines_);
        lines_ = nullptr;
    }

    // False when the section cannot be mirrored exactly (a multi-byte code page,
    // a section name with blanks at its ends, more than 4 MB of keys, no memory).
    bool Load(const char* section, const char* path)
    {
        CPINFO cp;
        if (!IsPlainSection(section) || !GetCPInfo(CP_ACP, &cp) || cp.MaxCharSize != 1) return false;
        for (DWORD size = 32768; size <= (4u << 20); size *= 4) {
            Free();
            lines_ = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
            if (!lines_) return false;
            DWORD got = GetPrivateProfileSectionA(section, lines_, size, path);
            if (got + 2 < size) return true;  // else it may have been cut: try a larger buffer
        }
        return false;
    }

    // The line the key functions find for `key`: the first with the same name,
    // ignoring case. *value is its value, or NULL when there is none or it has
    // no '='. False when a name outside plain ASCII of the same length might
    // match under the system's case rules.
    bool Find(const char* key, const char** value) const
    {
        *value = nullptr;
        const size_t n = strlen(key);
        for (const char* p = lines_; *p; p += strlen(p) + 1) {
            const char* eq = strchr(p, '=');
            size_t k = eq ? (size_t)(eq - p) : strlen(p);
            if (k != n) continue;
            if (!IsPlainText(p, n)) return false;
            if (SameAsciiNoCase(p, key, n)) {
                if (eq) *value = eq + 1;
                return true;
            }
        }
        return true;
    }

    // The key reader's result for `key` with kMissing as the fallback; false
    // when it must be asked itself (an unusual key or a value outside plain ASCII).
    bool Lookup(const char* key, char out[1024]) const
    {
        const char* v;
        if (!IsPlainKey(key) || !Find(key, &v)) return false;
        if (!v) {
            strcpy(out, kMissing);
            return true;
        }
        if (!IsPlainText(v, strlen(v))) return false;
        StoredText(v, out);
        return true;
    }

private:
    char* lines_ = nullptr;
};

void ReadOne(SettingRecord& r, const char* section, const char* path, const SectionView* view)
{
    if (!IsValueType(r.type)) return;
    char key[sizeof r.name + 1];
    CopyField(key, sizeof key, r.name, sizeof r.name);
    char text[1024];
    if (!view || !view->Lookup(key, text)) {
        DWORD got = GetPrivateProfileStringA(section, key, kMissing, text, sizeof text, path);
        text[got < sizeof text ? got : sizeof text - 1] = 0;
    }
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

// Writes one record with the key writer. With the section as it was before the
// table's first write (`view`), a record whose stored value is already its text
// is left alone: the key writer would change nothing. A record whose key an
// earlier one of the table may have written is always written.
void WriteOne(const SettingRecord* table, int index, const char* section, const char* path,
              const SectionView* view)
{
    const SettingRecord& r = table[index];
    if (!IsValueType(r.type)) return;
    char key[sizeof r.name + 1];
    CopyField(key, sizeof key, r.name, sizeof r.name);
    if (!key[0] || strpbrk(key, "\r\n")) return;  // no usable key line
    char text[1024];
    // A value with no finite text form leaves the stored value as it was.
    if (!FormatValue(r.type, r.currentValue, text)) return;
    const char* stored = nullptr;
    if (view && IsPlainKey(key) && view->Find(key, &stored) && stored && IsPlainText(stored, strlen(stored))) {
        const char* v = text;
        while (IsProfileBlank(*v)) ++v;  // the writer drops leading blanks
        bool earlier = false;
        for (int i = 0; i < index && !earlier; ++i) {
            char other[sizeof r.name + 1];
            CopyField(other, sizeof other, table[i].name, sizeof table[i].name);
            earlier = MayBeSameKey(other, key);
        }
        if (!earlier && strcmp(stored, v) == 0) return;
    }
    WritePrivateProfileStringA(section, key, text, path);
}

}  // namespace pylcfg

PYLCONFIG_API int __cdecl PylConfigRead(SettingRecord* table, int count, const char* section, HINSTANCE module)
{
    if (!table || count <= 0) return 0;
    char path[1024], sect[1024];
    pylcfg::IniPathOf(module, path);
    pylcfg::SectionName(sect, section);
    // Several records: one section read, the keys looked up in memory.
    pylcfg::SectionView view;
    const bool whole = count > 1 && view.Load(sect, path);
    for (int i = 0; i < count; ++i) pylcfg::ReadOne(table[i], sect, path, whole ? &view : nullptr);
    view.Free();
    return 0;
}

PYLCONFIG_API int __cdecl PylConfigWrite(SettingRecord* table, int count, const char* section, HINSTANCE module)
{
    if (!table || count <= 0) return 0;
    char path[1024], sect[1024];
    pylcfg::IniPathOf(module, path);
    pylcfg::SectionName(sect, section);
    if (strpbrk(sect, "\r\n")) return 0;  // a section line cannot hold a line break
    // Several records: one section read, and a key write for each value that changes.
    pylcfg::SectionView view;
    const bool whole = count > 1 && view.Load(sect, path);
    for (int i = 0; i < count; ++i) pylcfg::WriteOne(table, i, sect, path, whole ? &view : nullptr);
    view.Free();
    return 0;
}
