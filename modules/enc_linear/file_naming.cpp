#include "file_naming.h"
#include <stdio.h>
#include <string.h>

namespace {

struct NameBuffer {
    char* text;
    size_t length;
    bool overflow;
    bool fromTag[OutputNameBytes];  // which characters came from tag texts

    void Append(const char* s, size_t n, bool tag = false)
    {
        if (overflow)
            return;
        if (length + n >= OutputNameBytes) {
            overflow = true;
            return;
        }
        memcpy(text + length, s, n);
        memset(fromTag + length, tag, n);
        length += n;
        text[length] = 0;
    }
    void Append(const char* s) { Append(s, strlen(s)); }
};

// Tag text as a part of a file name: each character that file names cannot
// hold is replaced by one other, control characters by "_". The bytes that
// code page 1252 leaves undefined read as C1 controls, and count as controls.
void AppendCleaned(NameBuffer& out, const char* tag, size_t width)
{
    char buf[256];
    size_t n = 0;
    for (size_t i = 0; i < width && tag[i] && n < sizeof(buf) - 1; i++) {
        unsigned char c = (unsigned char)tag[i];
        char r;
        switch (c) {
        case '"': r = '\''; break;
        case '*': r = '-'; break;
        case '/': r = '-'; break;
        case '\\': r = '-'; break;
        case ':': r = '.'; break;
        case '<': r = '('; break;
        case '>': r = ')'; break;
        case '?': r = '_'; break;
        case '|': r = '!'; break;
        case 0x81:
        case 0x8D:
        case 0x8F:
        case 0x90:
        case 0x9D: r = '_'; break;
        default: r = c < 0x20 || c == 0x7F ? '_' : (char)c; break;
        }
        buf[n++] = r;
    }
    out.Append(buf, n, true);
}

// A tag can still fill a whole folder step of the pattern ("%a\%t" with the
// author ".."): a step made only of dots and blanks (which the system trims
// from the end of a name) would name the folder itself or the one above it.
// The dots a tag put into such a step become "_".
void GuardDotSteps(NameBuffer& name)
{
    size_t start = 0;
    for (size_t i = 0; i <= name.length; i++) {
        char c = i < name.length ? name.text[i] : '\\';
        if (c != '\\' && c != '/')
            continue;
        bool onlyDots = i > start, anyDot = false, tagged = false;
        for (size_t k = start; k < i; k++) {
            onlyDots = onlyDots && (name.text[k] == '.' || name.text[k] == ' ');
            anyDot = anyDot || name.text[k] == '.';
            tagged = tagged || name.fromTag[k];
        }
        if (onlyDots && anyDot && tagged)
            for (size_t k = start; k < i; k++)
                if (name.fromTag[k] && name.text[k] == '.')
                    name.text[k] = '_';
        start = i + 1;
    }
}

bool SameLetters(const char* s, const char* upper, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        char c = s[i] >= 'a' && s[i] <= 'z' ? (char)(s[i] - 'a' + 'A') : s[i];
        if (c != upper[i])
            return false;
    }
    return true;
}

bool IsDeviceName(const char* s, size_t n)
{
    static const char* const names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : names)
        if (n == strlen(device) && SameLetters(s, device, n))
            return true;
    return n == 4 && (SameLetters(s, "COM", 3) || SameLetters(s, "LPT", 3)) && s[3] >= '1' && s[3] <= '9';
}

// The system opens a device for a step whose name, up to its first dot and
// without the blanks before that, is a device name, whatever follows
// ("COM1.wav", "LPT1. - x", "aux ."). A step a tag took part in gets "_" after
// that name ("COM1_.wav"). false when the longer name would not fit.
bool GuardDeviceSteps(NameBuffer& name)
{
    size_t start = 0;
    for (size_t i = 0; i <= name.length; i++) {
        char c = i < name.length ? name.text[i] : '\\';
        if (c != '\\' && c != '/')
            continue;
        bool tagged = false;
        for (size_t k = start; k < i; k++)
            tagged = tagged || name.fromTag[k];
        size_t end = start;
        while (end < i && name.text[end] != '.')
            end++;
        while (end > start && name.text[end - 1] == ' ')
            end--;
        if (tagged && IsDeviceName(name.text + start, end - start)) {
            if (name.length + 1 >= OutputNameBytes)
                return false;
            memmove(name.text + end + 1, name.text + end, name.length - end + 1);
            memmove(name.fromTag + end + 1, name.fromTag + end, name.length - end);
            name.text[end] = '_';
            name.fromTag[end] = true;
            name.length++;
            i++;
        }
        start = i + 1;
    }
    return true;
}

void AppendField(NameBuffer& out, const char* field, size_t width, bool clean)
{
    if (clean)
        AppendCleaned(out, field, width);
    else
        out.Append(field, strnlen(field, width));
}

}  // namespace

int BuildOutputName(char out[OutputNameBytes], const char* pattern, const char* folder, int fileCounter,
                    const TrackInfo* track, int clean)
{
    NameBuffer name{out, 0, false, {}};
    out[0] = 0;
    const char* path = track->path;
    size_t pathLen = strnlen(path, sizeof(track->path));
    const char* lastSlash = NULL;
    for (size_t i = 0; i < pathLen; i++)
        if (path[i] == '\\')
            lastSlash = path + i;
    const char* nameStart = lastSlash ? lastSlash + 1 : path;
    const char* lastDot = NULL;
    for (const char* p = nameStart; p < path + pathLen; p++)
        if (*p == '.')
            lastDot = p;

    if (folder) {
        name.Append(folder);
        if (name.length == 0 || out[name.length - 1] != '\\')
            name.Append("\\");
    }
    for (const char* p = pattern ? pattern : ""; *p && !name.overflow; p++) {
        if (*p != '%') {
            name.Append(p, 1);
            continue;
        }
        if (!p[1])
            break;
        char code = *++p;
        if (code >= 'A' && code <= 'Z')
            code = (char)(code - 'A' + 'a');
        char num[16];
        switch (code) {
        case 'a': AppendField(name, track->author, sizeof(track->author), clean); break;
        case 'b': AppendField(name, track->album, sizeof(track->album), clean); break;
        case 'g': AppendField(name, track->genre, sizeof(track->genre), clean); break;
        case 'r': AppendField(name, track->rating, sizeof(track->rating), clean); break;
        case 't': AppendField(name, track->title, sizeof(track->title), clean); break;
        case 'c':
            snprintf(num, sizeof(num), "%03d", fileCounter);
            name.Append(num);
            break;
        case 'n':
            snprintf(num, sizeof(num), "%02d", track->track);
            name.Append(num);
            break;
        case 'e':
            if (lastDot)
                name.Append(lastDot + 1, (size_t)(path + pathLen - (lastDot + 1)));
            else
                name.Append(track->format, strnlen(track->format, sizeof(track->format)));
            break;
        case 'f':
            if (!lastSlash)
                name.Append(path, pathLen);
            else
                name.Append(nameStart, (size_t)((lastDot ? lastDot : path + pathLen) - nameStart));
            break;
        case 'p':
            if (lastSlash) {
                name.length = 0;
                out[0] = 0;
                name.Append(path, (size_t)(lastSlash - path));
            }
            break;
        default: break;
        }
    }
    if (name.overflow) {
        out[0] = 0;
        return 0;
    }
    GuardDotSteps(name);
    if (!GuardDeviceSteps(name)) {
        out[0] = 0;
        return 0;
    }
    return 1;
}
