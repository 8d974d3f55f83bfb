// INI settings store: reads and writes the current values of SettingRecord
// arrays in the profile file beside the owning module.
#include <windows.h>

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

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
void StoredText(const std::string& value, char out[1024])
{
    const char* p = value.c_str();
    size_t len = value.size();
    bool quoted = len > 1 && (p[0] == '\'' || p[0] == '"') && p[len - 1] == p[0];
    if (quoted) ++p, --len;
    size_t n = len < 1023 ? len : 1023;
    memcpy(out, p, n);
    if (quoted && len <= 1024) --n;
    out[n] = 0;
}

}  // namespace

// One section as the section reader returns it: its lines in file order, so
// that every key is looked up in memory with one profile call per section.
class SectionView {
public:
    struct Entry {
        std::string key, value;
        bool hasValue;  // false: a line without '='
    };
    std::vector<Entry> entries;

    // False when the section cannot be mirrored exactly (a multi-byte code page,
    // a section name with blanks at its ends, more than 4 MB of keys).
    bool Load(const char* section, const char* path)
    {
        entries.clear();
        CPINFO cp;
        if (!IsPlainSection(section) || !GetCPInfo(CP_ACP, &cp) || cp.MaxCharSize != 1) return false;
        std::vector<char> buf;
        for (DWORD size = 32768; size <= (4u << 20); size *= 4) {
            buf.assign(size, 0);
            DWORD got = GetPrivateProfileSectionA(section, buf.data(), size, path);
            if (got + 2 >= size) continue;  // may have been cut: try a larger buffer
            for (const char* p = buf.data(); *p; p += strlen(p) + 1) {
                const char* eq = strchr(p, '=');
                if (eq) entries.push_back({std::string(p, eq - p), std::string(eq + 1), true});
                else entries.push_back({std::string(p), std::string(), false});
            }
            return true;
        }
        return false;
    }

    // Index of the line the key functions find for `key` (the first with the
    // same name, ignoring case), -1 for none, -2 when a name outside plain ASCII
    // of the same length might match under the system's case rules.
    int Find(const char* key) const
    {
        size_t n = strlen(key);
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::string& k = entries[i].key;
            if (k.size() != n) continue;
            if (!IsPlainText(k.data(), n)) return -2;
            if (SameAsciiNoCase(k.data(), key, n)) return (int)i;
        }
        return -1;
    }

    // The key reader's result for `key` with kMissing as the fallback; false
    // when it must be asked itself (an unusual key or a value outside plain ASCII).
    bool Lookup(const char* key, char out[1024]) const
    {
        if (!IsPlainKey(key)) return false;
        int i = Find(key);
        if (i == -2) return false;
        if (i < 0 || !entries[i].hasValue) {
            strcpy(out, kMissing);
            return true;
        }
        const std::string& v = entries[i].value;
        if (!IsPlainText(v.data(), v.size())) return false;
        StoredText(v, out);
        return true;
    }
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

namespace {

struct Change {
    std::string key, text;
};

// Applies the records to the view as the key writer would, one after the
// other, and lists the writes that change something (a key writer call with
// the stored value is a no-op). False when the view cannot tell.
bool Merge(const SettingRecord* table, int count, SectionView& view, std::vector<Change>& changes)
{
    changes.clear();
    for (int i = 0; i < count; ++i) {
        const SettingRecord& r = table[i];
        if (!IsValueType(r.type)) continue;
        char key[sizeof r.name + 1];
        CopyField(key, sizeof key, r.name, sizeof r.name);
        if (!key[0] || strpbrk(key, "\r\n")) continue;
        char text[1024];
        if (!FormatValue(r.type, r.currentValue, text)) continue;
        if (!IsPlainKey(key)) return false;
        const char* v = text;
        while (IsProfileBlank(*v)) ++v;  // the writer drops leading blanks
        int at = view.Find(key);
        if (at == -2) return false;
        if (at >= 0) {
            SectionView::Entry& e = view.entries[at];
            // A stored value outside plain ASCII may differ from its text here.
            if (e.hasValue && e.value == v && IsPlainText(e.value.data(), e.value.size())) continue;
            e.value = v;
            e.hasValue = true;
        } else {
            view.entries.push_back({key, v, true});
        }
        changes.push_back({key, text});
    }
    return true;
}

// Whether rewriting the whole section gives the file the key writer gives. The
// section writer drops lines without '=' and comments, empties every section of
// the name, and saves the section in one go where the key writer reloads the
// file after each change (which trims blanks at the ends of values).
bool SectionWriteMatches(const SectionView& view, const char* section, const char* path)
{
    for (const SectionView::Entry& e : view.entries) {
        if (!e.hasValue) return false;
        if (!e.value.empty() && IsProfileBlank(e.value.back())) return false;
        if (e.value.find_first_of("\r\n") != std::string::npos) return false;
        // Keys this process wrote that a reload would read differently.
        if (!e.key.empty() && (IsProfileBlank(e.key[0]) || IsProfileBlank(e.key.back()))) return false;
        if (e.key.find_first_of("\r\n") != std::string::npos || (e.key[0] == '[' && e.key.find(']') != std::string::npos))
            return false;
    }
    if (!IsPlainText(section, strlen(section))) return false;
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    DWORD size = GetFileSize(f, nullptr), got = 0;
    std::string data;
    bool ok = size != INVALID_FILE_SIZE && size <= (8u << 20);
    if (ok) {
        data.resize(size);
        ok = !size || (ReadFile(f, &data[0], size, &got, nullptr) && got == size);
    }
    CloseHandle(f);
    // Only an 8-bit file without a byte-order mark reads back byte for byte.
    if (!ok || (size >= 2 && ((uint8_t)data[0] == 0xff || (uint8_t)data[0] == 0xfe || (uint8_t)data[0] == 0xef)))
        return false;
    const size_t n = strlen(section);
    int headers = 0;
    bool inside = false;
    for (size_t pos = 0; pos < data.size();) {
        size_t end = data.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = data.size();
        size_t a = pos, b = end;
        pos = data.find_first_not_of("\r\n", end);
        if (pos == std::string::npos) pos = data.size();
        while (a < b && IsProfileBlank(data[a])) ++a;
        while (b > a && IsProfileBlank(data[b - 1])) --b;
        if (a == b) continue;
        size_t close = data.rfind(']', b - 1);
        if (data[a] == '[' && close != std::string::npos && close > a) {
            size_t na = a + 1, nb = close;
            while (na < nb && IsProfileBlank(data[na])) ++na;
            while (nb > na && IsProfileBlank(data[nb - 1])) --nb;
            inside = nb - na == n;
            if (inside && !IsPlainText(&data[na], n)) return false;
            inside = inside && SameAsciiNoCase(&data[na], section, n);
            if (inside && ++headers > 1) return false;
        } else if (inside && data[a] == ';') {
            return false;
        }
    }
    return true;
}

void WriteChanges(const std::vector<Change>& changes, const char* section, const char* path)
{
    for (const Change& c : changes) WritePrivateProfileStringA(section, c.key.c_str(), c.text.c_str(), path);
}

// Writes the records with one section read and, when values changed, one
// section write (or the key writes that change something). False, having
// written nothing, when only the key-by-key way is exact.
bool WriteSection(const SettingRecord* table, int count, const char* section, const char* path)
{
    SectionView view;
    std::vector<Change> changes;
    if (!view.Load(section, path) || !Merge(table, count, view, changes)) return false;
    if (changes.size() < 2 || !SectionWriteMatches(view, section, path)) {
        WriteChanges(changes, section, path);
        return true;
    }
    // The key writer's first save reloads the file; start from the file too:
    // drop the system's cached copy and read the section again.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
    if (!view.Load(section, path) || !Merge(table, count, view, changes)) {
        for (int i = 0; i < count; ++i) WriteOne(table[i], section, path);
        return true;
    }
    if (changes.size() < 2 || !SectionWriteMatches(view, section, path)) {
        WriteChanges(changes, section, path);
        return true;
    }
    std::string list;
    for (const SectionView::Entry& e : view.entries) {
        list += e.key;
        list += '=';
        list += e.value;
        list += '\0';
    }
    list += '\0';
    WritePrivateProfileSectionA(section, list.data(), path);
    return true;
}

}  // namespace

}  // namespace pylcfg

PYLCONFIG_API int __cdecl PylConfigRead(SettingRecord* table, int count, const char* section, HINSTANCE module)
{
    if (!table || count <= 0) return 0;
    char path[1024], sect[1024];
    pylcfg::IniPathOf(module, path);
    pylcfg::SectionName(sect, section);
    // Several records: one section read, the keys looked up in memory.
    pylcfg::SectionView view;
    bool whole = false;
    try {
        whole = count > 1 && view.Load(sect, path);
    } catch (...) {  // out of memory: the key-by-key way
    }
    for (int i = 0; i < count; ++i) pylcfg::ReadOne(table[i], sect, path, whole ? &view : nullptr);
    return 0;
}

PYLCONFIG_API int __cdecl PylConfigWrite(SettingRecord* table, int count, const char* section, HINSTANCE module)
{
    if (!table || count <= 0) return 0;
    char path[1024], sect[1024];
    pylcfg::IniPathOf(module, path);
    pylcfg::SectionName(sect, section);
    if (strpbrk(sect, "\r\n")) return 0;  // a section line cannot hold a line break
    try {
        if (count > 1 && pylcfg::WriteSection(table, count, sect, path)) return 0;
    } catch (...) {  // out of memory: the key-by-key way (writes already made are no-ops there)
    }
    for (int i = 0; i < count; ++i) pylcfg::WriteOne(table[i], sect, path);
    return 0;
}
