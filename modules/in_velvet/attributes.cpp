// Attribute mapping: thirty-one header attributes carried between a file and
// the track information record, read through a header-info interface (the
// reader's, a metadata editor's or our own header reader's) and written
// through a metadata editor.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <clocale>

#include "resource.h"
#include "track_file_time.h"
#include "wma_flt.h"

using namespace velvet;

namespace {

const char kGetID3[] = "CWmaFlt::GetID3";
const char kGetID3Ex[] = "CWmaFlt::GetID3Ex";
const char kSetXTagEx[] = "CWmaFlt::SetXTagEx";

enum class Kind { Text, Dword, Duration, Number };
enum class Absent { Empty, NotSet, FileName, Zero, MinusOne, One };

struct Mapping {
    const wchar_t* name;
    Kind kind;
    size_t offset;
    size_t width;  // text fields only
    Absent absent;
    bool single;   // numbers kept in single precision
    bool written;
    int convertLine, readLine, memoryLine;  // reading
    int setConvertLine, setLine;            // writing
};

#define FIELD(f) offsetof(TrackInfo, f), sizeof(TrackInfo::f)

// Reading order; writing leaves out "Duration" and "Bitrate".
const Mapping kMap[] = {
    {L"Title", Kind::Text, FIELD(title), Absent::FileName, false, true, 717, 0, 740, 2775, 2787},
    {L"Author", Kind::Text, FIELD(author), Absent::NotSet, false, true, 769, 789, 800, 2803, 2815},
    {L"WM/AlbumTitle", Kind::Text, FIELD(album), Absent::NotSet, false, true, 835, 856, 867, 2831, 2843},
    {L"WM/Genre", Kind::Text, FIELD(genre), Absent::NotSet, false, true, 902, 923, 934, 2859, 2871},
    {L"WM/Year", Kind::Text, FIELD(year), Absent::Empty, false, true, 968, 984, 995, 2887, 2899},
    {L"WM/Track", Kind::Dword, FIELD(track), Absent::Zero, false, true, 0, 1033, 1044, 0, 2915},
    {L"Description", Kind::Text, FIELD(description), Absent::Empty, false, true, 1078, 1094, 1105, 2931, 2943},
    {L"Copyright", Kind::Text, FIELD(copyright), Absent::Empty, false, true, 1139, 1155, 1166, 2959, 2971},
    {L"WM/PromotionURL", Kind::Text, FIELD(url), Absent::Empty, false, true, 1200, 1216, 1227, 2987, 2999},
    {L"Rating", Kind::Text, FIELD(rating), Absent::NotSet, false, true, 1261, 1282, 1293, 3015, 3027},
    {L"Duration", Kind::Duration, FIELD(duration), Absent::Zero, false, false, 0, 1333, 1344, 0, 0},
    {L"Bitrate", Kind::Dword, FIELD(bitrate), Absent::Zero, false, false, 0, 1382, 1393, 0, 0},
    {L"PlayCount", Kind::Dword, FIELD(playCount), Absent::Zero, false, true, 0, 1431, 1442, 0, 3043},
    {L"AlbumRepeatAfter", Kind::Dword, FIELD(albumRepeatAfter), Absent::MinusOne, false, true, 0, 1480, 1491, 0, 3059},
    {L"ArtistRepeatAfter", Kind::Dword, FIELD(artistRepeatAfter), Absent::MinusOne, false, true, 0, 1529, 1540, 0, 3074},
    {L"GenreRepeatAfter", Kind::Dword, FIELD(genreRepeatAfter), Absent::MinusOne, false, true, 0, 1578, 1589, 0, 3089},
    {L"RepeatEvery", Kind::Dword, FIELD(repeatEvery), Absent::MinusOne, false, true, 0, 1627, 1638, 0, 3104},
    {L"Rotation", Kind::Dword, FIELD(rotation), Absent::Zero, false, true, 0, 1676, 1687, 0, 3119},
    {L"MixingFlags", Kind::Dword, FIELD(mixingFlags), Absent::Zero, false, true, 0, 1725, 1736, 0, 3134},
    {L"MixLevel", Kind::Number, FIELD(mixLevel), Absent::Zero, true, true, 1772, 1791, 1802, 3151, 3163},
    {L"BPM", Kind::Number, FIELD(bpm), Absent::Zero, false, true, 1838, 1857, 1868, 3180, 3192},
    {L"CueBeg.Cue", Kind::Number, FIELD(cueBegCue), Absent::Zero, false, true, 1904, 1923, 1934, 3209, 3221},
    {L"CueBeg.Len", Kind::Number, FIELD(cueBegLen), Absent::Zero, false, true, 1970, 1989, 2000, 3238, 3250},
    {L"CueEnd.Cue", Kind::Number, FIELD(cueEndCue), Absent::Zero, false, true, 2036, 2055, 2066, 3267, 3279},
    {L"CueEnd.Len", Kind::Number, FIELD(cueEndLen), Absent::Zero, false, true, 2102, 2121, 2132, 3296, 3308},
    {L"CurveBeg.Curve", Kind::Number, FIELD(curveBegCurve), Absent::One, false, true, 2168, 2187, 2198, 3326, 3338},
    {L"CurveBeg.Level", Kind::Number, FIELD(curveBegLevel), Absent::Zero, false, true, 2234, 2253, 2264, 3355, 3367},
    {L"CurveBeg.Time", Kind::Number, FIELD(curveBegTime), Absent::Zero, false, true, 2300, 2319, 2330, 3384, 3396},
    {L"CurveEnd.Curve", Kind::Number, FIELD(curveEndCurve), Absent::One, false, true, 2366, 2385, 2396, 3414, 3426},
    {L"CurveEnd.Level", Kind::Number, FIELD(curveEndLevel), Absent::Zero, false, true, 2432, 2451, 2462, 3443, 3455},
    {L"CurveEnd.Time", Kind::Number, FIELD(curveEndTime), Absent::Zero, false, true, 2498, 2517, 2528, 3472, 3484},
};
static_assert(sizeof kMap / sizeof kMap[0] == 31, "thirty-one attributes");

char* TextField(TrackInfo* t, const Mapping& m) { return reinterpret_cast<char*>(t) + m.offset; }

int32_t* IntField(TrackInfo* t, const Mapping& m) { return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(t) + m.offset); }
double* DoubleField(TrackInfo* t, const Mapping& m) { return reinterpret_cast<double*>(reinterpret_cast<char*>(t) + m.offset); }

void CopyText(char* to, size_t width, const char* from) { lstrcpynA(to, from, (int)width); }

// The file's name without folder and extension, from a path of at most 1023 characters.
void TitleFromPath(const char* path, char* title, size_t width)
{
    char name[1024];
    lstrcpynA(name, path, sizeof name);
    char* dot = strrchr(name, '.');
    if (dot) *dot = 0;
    char* slash = strrchr(name, '\\');
    CopyText(title, width, slash ? slash + 1 : name);
}

// Converts UTF-16 text (at most `units`, up to its first NUL) to the system
// code page into a field of `width` bytes. Text that does not fit is cut at
// the last whole character that does. False (with the system's error) when
// the text cannot be converted at all.
bool WideToField(const WCHAR* text, size_t units, char* out, size_t width, DWORD* error)
{
    size_t n = 0;
    while (n < units && text[n]) ++n;
    out[0] = 0;
    if (n == 0) return true;
    int need = WideCharToMultiByte(CP_ACP, 0, text, (int)n, nullptr, 0, nullptr, nullptr);
    char* all = need > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, (SIZE_T)need)) : nullptr;
    if (need <= 0 || !all) {
        *error = need <= 0 ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    need = WideCharToMultiByte(CP_ACP, 0, text, (int)n, all, need, nullptr, nullptr);
    size_t at = 0;
    while (at < (size_t)need) {
        size_t step = IsDBCSLeadByte((BYTE)all[at]) ? 2 : 1;
        if (at + step > width - 1) break;
        at += step;
    }
    memcpy(out, all, at);
    out[at] = 0;
    HeapFree(GetProcessHeap(), 0, all);
    return true;
}

uint64_t Unsigned(const BYTE* value, size_t length)
{
    uint64_t v = 0;
    memcpy(&v, value, length < sizeof v ? length : sizeof v);
    return v;
}

bool IsNumeric(WMT_ATTR_DATATYPE type)
{
    return type == WMT_TYPE_DWORD || type == WMT_TYPE_QWORD || type == WMT_TYPE_WORD || type == WMT_TYPE_BOOL;
}

void StoreAbsent(const Mapping& m, const char* path, TrackInfo* out)
{
    switch (m.absent) {
    case Absent::Empty: TextField(out, m)[0] = 0; break;
    case Absent::NotSet: CopyText(TextField(out, m), m.width, VQ_TAG_NOT_SET); break;
    case Absent::FileName: TitleFromPath(path, TextField(out, m), m.width); break;
    case Absent::Zero:
        if (m.kind == Kind::Dword) *IntField(out, m) = 0;
        else *DoubleField(out, m) = 0.0;
        break;
    case Absent::MinusOne: *IntField(out, m) = -1; break;
    case Absent::One: *DoubleField(out, m) = 1.0; break;
    }
}

// Stores one value read from the header. False (with the system's error)
// when a text cannot be converted.
bool Store(const Mapping& m, WMT_ATTR_DATATYPE type, const BYTE* value, size_t length, const char* path,
           TrackInfo* out, DWORD* error)
{
    const WCHAR* text = reinterpret_cast<const WCHAR*>(value);
    size_t units = length / 2;
    switch (m.kind) {
    case Kind::Text: {
        char* field = TextField(out, m);
        if (type == WMT_TYPE_STRING) {
            if (!WideToField(text, units, field, m.width, error)) return false;
        } else if (IsNumeric(type)) {
            snprintf(field, m.width, "%llu", (unsigned long long)Unsigned(value, length));
        } else {
            StoreAbsent(m, path, out);
        }
        if (!field[0] && m.absent == Absent::NotSet) CopyText(field, m.width, VQ_TAG_NOT_SET);
        if (!field[0] && m.absent == Absent::FileName) CopyText(field, m.width, VQ_TAG_NOT_SET);
        return true;
    }
    case Kind::Dword:
        if (IsNumeric(type)) {
            *IntField(out, m) = (int32_t)(uint32_t)Unsigned(value, length < 4 ? length : 4);
        } else if (type == WMT_TYPE_STRING) {
            char number[256];
            if (!WideToField(text, units, number, sizeof number, error)) return false;
            *IntField(out, m) = (int32_t)strtol(number, nullptr, 10);
        } else {
            StoreAbsent(m, path, out);
        }
        return true;
    case Kind::Duration:
        if (IsNumeric(type)) *DoubleField(out, m) = (double)Unsigned(value, length) / (double)kUnitsPerSecond;
        else StoreAbsent(m, path, out);
        return true;
    case Kind::Number: {
        double v;
        if (type == WMT_TYPE_STRING) {
            char number[256];
            if (!WideToField(text, units, number, sizeof number, error)) return false;
            v = ParseDecimal(number);
        } else if (IsNumeric(type)) {
            v = (double)Unsigned(value, length);
        } else {
            StoreAbsent(m, path, out);
            return true;
        }
        *DoubleField(out, m) = m.single ? (double)(float)v : v;
        return true;
    }
    }
    return true;
}

// Size and last-write time (UTC) of a file, when it can be opened.
void FillFileFacts(const char* path, TrackInfo* out)
{
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD size = GetFileSize(f, nullptr);
    if (size != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) out->size = size;
    FILETIME written;
    if (GetFileTime(f, nullptr, nullptr, &written)) TrackFileTimeFrom(written, &out->fileTime);
    CloseHandle(f);
}

void FillFormat(const char* path, TrackInfo* out)
{
    size_t n = strlen(path);
    CopyText(out->format, sizeof out->format, n >= 3 ? path + n - 3 : path);
}

HRESULT SystemError(DWORD error) { return error ? HRESULT_FROM_WIN32(error) : E_FAIL; }

}  // namespace

namespace velvet {

void RecordPath(const TrackInfo* record, RecordPathText& path)
{
    size_t n = strnlen(record->path, sizeof record->path);
    memcpy(path, record->path, n);
    path[n] = 0;
}

double ParseDecimal(const char* s)
{
    while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n') ++s;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    uint64_t mantissa = 0;
    int digits = 0, exponent = 0;
    bool any = false;
    for (; *s >= '0' && *s <= '9'; ++s, any = true) {
        if (digits < 19) {
            mantissa = mantissa * 10 + (uint64_t)(*s - '0');
            if (mantissa) ++digits;
        } else {
            ++exponent;
        }
    }
    // Either separator: a text written where the decimal comma is the custom reads the same.
    if ((*s == '.' || *s == ',') && s[1] >= '0' && s[1] <= '9') {
        for (++s; *s >= '0' && *s <= '9'; ++s, any = true) {
            if (digits < 19) {
                mantissa = mantissa * 10 + (uint64_t)(*s - '0');
                if (mantissa) ++digits;
                --exponent;
            }
        }
    }
    if (!any) return 0.0;
    if ((*s == 'e' || *s == 'E') && ((s[1] >= '0' && s[1] <= '9') ||
                                     ((s[1] == '-' || s[1] == '+') && s[2] >= '0' && s[2] <= '9'))) {
        ++s;
        bool down = *s == '-';
        if (*s == '-' || *s == '+') ++s;
        int e = 0;
        for (; *s >= '0' && *s <= '9'; ++s)
            if (e < 100000) e = e * 10 + (*s - '0');
        exponent += down ? -e : e;
    }
    static const double kPowers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    double v;
    if (mantissa < (1ull << 53) && exponent >= -22 && exponent <= 22) {
        // Both operands are exact, so one operation rounds correctly.
        v = exponent < 0 ? (double)mantissa / kPowers[-exponent] : (double)mantissa * kPowers[exponent];
    } else {
        // No decimal separator in this form, so the C library's locale plays no part.
        char text[48];
        snprintf(text, sizeof text, "%llue%d", (unsigned long long)mantissa, exponent);
        v = strtod(text, nullptr);
    }
    return negative ? -v : v;
}

void FormatDecimal(double value, char* out, size_t size)
{
    snprintf(out, size, "%0.2f", value);
    // Whatever the C library's locale, the text carries a decimal point.
    const struct lconv* lc = localeconv();
    char localPoint = lc && lc->decimal_point && lc->decimal_point[0] ? lc->decimal_point[0] : '.';
    for (char* p = out; *p; ++p)
        if (*p == ',' || *p == localPoint) *p = '.';
}

}  // namespace velvet

HRESULT CWmaFlt::OpenEditor(const char* path, const EditorSteps& steps)
{
    HRESULT hr = ActiveWmRuntime()->CreateEditor(&m_pEditor);
    if (SUCCEEDED(hr) && !m_pEditor) hr = E_FAIL;
    if (FAILED(hr)) {
        m_pEditor = nullptr;
        Message(IDS_CREATE_EDITOR, steps.operation, steps.createLine, hr);
        return hr;
    }
    WCHAR wide[1024];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 1024)) {
        DWORD error = GetLastError();
        Message(steps.convertId, steps.operation, steps.convertLine, (unsigned)error);
        return SystemError(error);
    }
    lstrcpynA(m_path, path, 1024);
    hr = m_pEditor->Open(wide);
    if (FAILED(hr)) {
        Message(steps.openId, steps.operation, steps.openLine, hr);
        return hr;
    }
    hr = m_pEditor->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&m_pHeader));
    if (FAILED(hr) || !m_pHeader) {
        m_pHeader = nullptr;
        if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
        Message(steps.queryId, steps.operation, steps.queryLine, hr);
        return hr;
    }
    return S_OK;
}

int CWmaFlt::GetID3(TrackInfo* out)
{
    if (!out) return 0;
    CopyText(out->path, 255, m_path);
    FillFormat(m_path, out);
    FillFileFacts(m_path, out);
    for (const Mapping& m : kMap) {
        WORD stream = 0, length = 0;
        WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
        HRESULT hr = m_pHeader ? m_pHeader->GetAttributeByName(&stream, m.name, &type, nullptr, &length) : kAsfNotFound;
        if (FAILED(hr) || length == 0) {
            StoreAbsent(m, m_path, out);
            continue;
        }
        // Two spare zero bytes keep any text terminated.
        auto* value = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)length + 2));
        if (!value) {
            Message(IDS_ID3_MEMORY, kGetID3, m.memoryLine);
            return hr;
        }
        WORD got = length;
        stream = 0;
        hr = m_pHeader->GetAttributeByName(&stream, m.name, &type, value, &got);
        if (FAILED(hr)) {
            HeapFree(GetProcessHeap(), 0, value);
            if (&m == &kMap[0]) {
                CopyText(out->title, sizeof out->title, VQ_TAG_NOT_SET);
                continue;
            }
            Message(IDS_ID3_ATTRIBUTE, kGetID3, m.readLine, hr);
            return hr;
        }
        DWORD error = 0;
        bool stored = Store(m, type, value, got < length ? got : length, m_path, out, &error);
        HeapFree(GetProcessHeap(), 0, value);
        if (!stored) {
            Message(IDS_ID3_INTERNAL, kGetID3, m.convertLine, (unsigned long)error);
            return 0;
        }
    }
    out->sampleRate = (int32_t)m_readerFormat.nSamplesPerSec;
    out->channels = m_readerFormat.nChannels;
    out->bits = m_readerFormat.wBitsPerSample;
    return 1;
}

HRESULT CWmaFlt::GetID3Ex(TrackInfo* io)
{
    if (!io) return E_POINTER;
    RecordPathText path;
    RecordPath(io, path);
    FillFormat(path, io);
    FillFileFacts(path, io);

    static const EditorSteps kSteps = {kGetID3Ex, 2606, IDS_GET_CONVERT, 2620, IDS_GET_EDITOR_OPEN, 2636,
                                       IDS_GET_QUERY_HEADER, 2652};
    HRESULT hr = OpenEditor(path, kSteps);
    if (FAILED(hr)) return hr;
    int result = GetID3(io);
    if (result < 0) {
        Message(IDS_GET_ID3, kGetID3Ex, 2669, result);
        return result;
    }
    m_pEditor->Close();
    return result;
}

HRESULT CWmaFlt::SetXTagEx(const TrackInfo* in)
{
    if (!in) return E_POINTER;
    RecordPathText path;
    RecordPath(in, path);
    // Every failure, the early ones included, reports a negative result.
    static const EditorSteps kSteps = {kSetXTagEx, 2705, IDS_SET_CONVERT, 2719, IDS_SET_EDITOR_OPEN, 2733,
                                       IDS_SET_QUERY_HEADER, 2749};
    HRESULT hr = OpenEditor(path, kSteps);
    if (FAILED(hr)) return hr;
    TrackInfo record = *in;
    for (const Mapping& m : kMap) {
        if (!m.written) continue;
        WCHAR text[2048];
        DWORD dword = 0;
        const BYTE* value;
        WORD length;
        WMT_ATTR_DATATYPE type;
        if (m.kind == Kind::Dword) {
            dword = (DWORD)*IntField(&record, m);
            value = reinterpret_cast<const BYTE*>(&dword);
            length = sizeof dword;
            type = WMT_TYPE_DWORD;
        } else {
            char number[256];
            const char* source;
            size_t n;
            if (m.kind == Kind::Number) {
                FormatDecimal(*DoubleField(&record, m), number, sizeof number);
                source = number;
                n = strlen(number);
            } else {
                source = TextField(&record, m);
                n = strnlen(source, m.width);
            }
            int units = 0;
            if (n > 0) {
                units = MultiByteToWideChar(CP_ACP, 0, source, (int)n, text, 2047);
                if (units <= 0) {
                    DWORD error = GetLastError();
                    Message(IDS_SET_CONVERT, kSetXTagEx, m.setConvertLine, (unsigned)error);
                    return SystemError(error);
                }
            }
            text[units] = 0;
            value = reinterpret_cast<const BYTE*>(text);
            length = (WORD)((units + 1) * sizeof(WCHAR));
            type = WMT_TYPE_STRING;
        }
        hr = m_pHeader->SetAttribute(0, m.name, type, value, length);
        if (FAILED(hr)) {
            Message(IDS_SET_ATTRIBUTE, kSetXTagEx, m.setLine, hr);
            return hr;
        }
    }
    m_pEditor->Flush();
    m_pEditor->Close();
    return hr;
}

void CWmaFlt::FillTrackInfo()
{
    const WmRuntime* runtime = ActiveWmRuntime();
    if (!runtime->PlatformEditorAvailable || runtime->PlatformEditorAvailable()) {
        GetID3(&m_trackInfo);
        return;
    }
    // The reader's header holds the duration at most: read the file's own header.
    IWMMetadataEditor* editor = nullptr;
    IWMHeaderInfo* header = nullptr;
    WCHAR wide[1024];
    if (SUCCEEDED(CreateAsfHeaderEditor(&editor)) && MultiByteToWideChar(CP_ACP, 0, m_path, -1, wide, 1024) &&
        SUCCEEDED(editor->Open(wide)) &&
        SUCCEEDED(editor->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&header))) && header) {
        IWMHeaderInfo* readerHeader = m_pHeader;
        m_pHeader = header;
        GetID3(&m_trackInfo);
        m_pHeader = readerHeader;
        header->Release();
    } else {
        GetID3(&m_trackInfo);
    }
    if (editor) editor->Release();
}
