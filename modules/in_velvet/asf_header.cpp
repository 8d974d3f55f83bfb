// Our own reader of the attributes in an ASF file's header, behind the same
// metadata-editor and header-info interfaces as the platform's editor: the
// file properties (duration, bit rate), the content description (title,
// author, copyright, description, rating) and the extended content
// description (named, typed values). Used where the platform has no editor.
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "wm_runtime.h"

namespace {

const GUID kHeaderObject = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const GUID kFileProperties = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const GUID kContentDescription = {0x75B22633, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const GUID kExtendedContent = {0xD2D0A440, 0xE307, 0x11D2, {0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50}};

constexpr size_t kObjectHead = 24;      // GUID and 64-bit size
constexpr size_t kHeaderHead = 30;      // object head, child count, two reserved bytes
constexpr size_t kFilePropsBody = 80;   // fixed part of the file properties object
constexpr uint64_t kMaxHeader = 64u << 20;
// Values are handed out with 16-bit lengths.
constexpr size_t kMaxValue = 0xFFFE;

const HRESULT kBadFormat = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);

uint16_t U16(const BYTE* p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t U32(const BYTE* p) { return (uint32_t)U16(p) | (uint32_t)U16(p + 2) << 16; }
uint64_t U64(const BYTE* p) { return (uint64_t)U32(p) | (uint64_t)U32(p + 4) << 32; }
bool IsGuid(const BYTE* p, const GUID& g) { return memcmp(p, &g, sizeof g) == 0; }

struct Attribute {
    std::wstring name;
    WMT_ATTR_DATATYPE type;
    std::vector<BYTE> value;
};

// UTF-16 text of `bytes` bytes (an odd last byte is dropped), cut at its
// first NUL, as a value that always ends with one NUL.
std::vector<BYTE> TextValue(const BYTE* p, size_t bytes)
{
    size_t units = bytes / 2;
    size_t n = 0;
    while (n < units && U16(p + 2 * n) != 0) ++n;
    if ((n + 1) * 2 > kMaxValue) n = kMaxValue / 2 - 1;
    std::vector<BYTE> v((n + 1) * 2, 0);
    memcpy(v.data(), p, n * 2);
    return v;
}

std::wstring TextName(const BYTE* p, size_t bytes)
{
    std::wstring s;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        wchar_t c = (wchar_t)U16(p + i);
        if (!c) break;
        s.push_back(c);
    }
    return s;
}

// Names compare without regard to letter case, as _wcsicmp compares them:
// character by character through towlower.
std::wstring NameKey(const wchar_t* name)
{
    std::wstring key;
    for (; *name; ++name) key.push_back((wchar_t)towlower(*name));
    return key;
}

class Attributes {
public:
    void Add(const std::wstring& name, WMT_ATTR_DATATYPE type, std::vector<BYTE> value)
    {
        if (name.empty()) return;
        // The first one of a name counts.
        if (!index_.emplace(NameKey(name.c_str()), list_.size()).second) return;
        list_.push_back(Attribute{name, type, std::move(value)});
    }
    const Attribute* Find(const wchar_t* name) const
    {
        auto it = index_.find(NameKey(name));
        return it == index_.end() ? nullptr : &list_[it->second];
    }
    size_t Count() const { return list_.size(); }
    // Drops the attributes added after the first `count`.
    void Truncate(size_t count)
    {
        while (list_.size() > count) {
            index_.erase(NameKey(list_.back().name.c_str()));
            list_.pop_back();
        }
    }
    void Clear()
    {
        list_.clear();
        index_.clear();
    }

private:
    std::vector<Attribute> list_;
    std::unordered_map<std::wstring, size_t> index_;  // name key -> position in list_
};

void AddNumber(Attributes* out, const wchar_t* name, WMT_ATTR_DATATYPE type, uint64_t v, size_t width)
{
    std::vector<BYTE> value(width);
    for (size_t i = 0; i < width; ++i) value[i] = (BYTE)(v >> (8 * i));
    out->Add(name, type, std::move(value));
}

bool ParseFileProperties(const BYTE* p, size_t size, Attributes* out)
{
    if (size < kFilePropsBody) return false;
    uint64_t play = U64(p + 40);
    uint64_t prerollMs = U64(p + 56);
    uint32_t flags = U32(p + 64);
    uint32_t maxBitrate = U32(p + 76);
    uint64_t preroll = prerollMs < UINT64_MAX / 10000 ? prerollMs * 10000 : UINT64_MAX;
    // A broadcast file's play duration is not valid.
    uint64_t duration = (flags & 1) || play < preroll ? 0 : play - preroll;
    AddNumber(out, L"Duration", WMT_TYPE_QWORD, duration, 8);
    AddNumber(out, L"Bitrate", WMT_TYPE_DWORD, maxBitrate, 4);
    return true;
}

bool ParseContentDescription(const BYTE* p, size_t size, Attributes* out)
{
    static const wchar_t* const kNames[5] = {L"Title", L"Author", L"Copyright", L"Description", L"Rating"};
    if (size < 10) return false;
    size_t at = 10;
    for (int i = 0; i < 5; ++i) {
        size_t len = U16(p + 2 * i);
        if (len > size - at) return false;
        if (len > 0) out->Add(kNames[i], WMT_TYPE_STRING, TextValue(p + at, len));
        at += len;
    }
    return true;
}

bool ParseExtendedContent(const BYTE* p, size_t size, Attributes* out)
{
    if (size < 2) return false;
    size_t count = U16(p);
    size_t at = 2;
    for (size_t i = 0; i < count; ++i) {
        if (size - at < 2) return false;
        size_t nameLen = U16(p + at);
        at += 2;
        if (nameLen > size - at || size - at - nameLen < 4) return false;
        std::wstring name = TextName(p + at, nameLen);
        at += nameLen;
        uint16_t type = U16(p + at);
        size_t valueLen = U16(p + at + 2);
        at += 4;
        if (valueLen > size - at) return false;
        const BYTE* v = p + at;
        at += valueLen;
        switch (type) {
        case 0: out->Add(name, WMT_TYPE_STRING, TextValue(v, valueLen)); break;
        case 1: out->Add(name, WMT_TYPE_BINARY, std::vector<BYTE>(v, v + valueLen)); break;
        // Booleans are stored in 32 bits here, in 16 bits by some writers.
        case 2: if (valueLen >= 2) AddNumber(out, name.c_str(), WMT_TYPE_BOOL, valueLen >= 4 ? U32(v) : U16(v), 4); break;
        case 3: if (valueLen >= 4) AddNumber(out, name.c_str(), WMT_TYPE_DWORD, U32(v), 4); break;
        case 4: if (valueLen >= 8) AddNumber(out, name.c_str(), WMT_TYPE_QWORD, U64(v), 8); break;
        case 5: if (valueLen >= 2) AddNumber(out, name.c_str(), WMT_TYPE_WORD, U16(v), 2); break;
        default: break;  // unknown types are left out
        }
    }
    return true;
}

// The whole header object: its children in order. A child whose size is
// below its own head or runs past the header makes the header unreadable,
// and so do unreadable file properties. A tag object whose own contents do
// not add up gives no tags, and the file stays readable.
HRESULT ParseHeader(const BYTE* h, size_t size, Attributes* out)
{
    bool fileProperties = false;
    size_t at = kHeaderHead;
    while (size - at >= kObjectHead) {
        uint64_t objSize = U64(h + at + 16);
        if (objSize < kObjectHead || objSize > size - at) return kBadFormat;
        const BYTE* body = h + at + kObjectHead;
        size_t bodySize = (size_t)objSize - kObjectHead;
        size_t before = out->Count();
        bool tags = true;
        if (IsGuid(h + at, kFileProperties)) {
            if (!ParseFileProperties(body, bodySize, out)) return kBadFormat;
            fileProperties = true;
        } else if (IsGuid(h + at, kContentDescription)) {
            tags = ParseContentDescription(body, bodySize, out);
        } else if (IsGuid(h + at, kExtendedContent)) {
            tags = ParseExtendedContent(body, bodySize, out);
        }
        if (!tags) out->Truncate(before);
        at += (size_t)objSize;
    }
    return fileProperties ? S_OK : kBadFormat;
}

bool ReadExactly(HANDLE f, BYTE* to, size_t n)
{
    while (n > 0) {
        DWORD chunk = n > 0x100000 ? 0x100000 : (DWORD)n, got = 0;
        if (!::ReadFile(f, to, chunk, &got, nullptr) || got == 0) return false;
        to += got;
        n -= got;
    }
    return true;
}

HRESULT LoadHeader(const wchar_t* path, Attributes* out)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = kBadFormat;
    LARGE_INTEGER fileSize;
    BYTE head[kHeaderHead];
    if (GetFileSizeEx(f, &fileSize) && ReadExactly(f, head, sizeof head) && IsGuid(head, kHeaderObject)) {
        uint64_t size = U64(head + 16);
        if (size >= kHeaderHead && size <= (uint64_t)fileSize.QuadPart && size <= kMaxHeader) {
            std::vector<BYTE> header;
            try {
                header.resize((size_t)size);
            } catch (const std::bad_alloc&) {
                CloseHandle(f);
                return E_OUTOFMEMORY;
            }
            memcpy(header.data(), head, sizeof head);
            if (ReadExactly(f, header.data() + sizeof head, header.size() - sizeof head))
                hr = ParseHeader(header.data(), header.size(), out);
        }
    }
    CloseHandle(f);
    return hr;
}

class AsfHeaderEditor final : public IWMMetadataEditor, public IWMHeaderInfo {
public:
    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWMMetadataEditor))
            *ppv = static_cast<IWMMetadataEditor*>(this);
        else if (IsEqualIID(riid, IID_IWMHeaderInfo))
            *ppv = static_cast<IWMHeaderInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return (ULONG)n;
    }

    // IWMMetadataEditor
    STDMETHODIMP Open(const WCHAR* path) override
    {
        attributes_.Clear();
        if (!path) return E_INVALIDARG;
        try {
            HRESULT hr = LoadHeader(path, &attributes_);
            if (FAILED(hr)) attributes_.Clear();
            return hr;
        } catch (const std::bad_alloc&) {
            attributes_.Clear();
            return E_OUTOFMEMORY;
        }
    }
    STDMETHODIMP Close() override
    {
        attributes_.Clear();
        return S_OK;
    }
    // Nothing is ever pending: attributes cannot be set here.
    STDMETHODIMP Flush() override { return S_OK; }

    // IWMHeaderInfo
    STDMETHODIMP GetAttributeCount(WORD stream, WORD* count) override
    {
        if (!count) return E_POINTER;
        *count = stream == 0 ? (WORD)attributes_.Count() : 0;
        return S_OK;
    }
    STDMETHODIMP GetAttributeByIndex(WORD, WORD*, WCHAR*, WORD*, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetAttributeByName(WORD* stream, LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                    WORD* length) override
    {
        if (!stream || !name || !type || !length) return E_INVALIDARG;
        const Attribute* a = *stream == 0 ? attributes_.Find(name) : nullptr;
        if (!a) return kAsfNotFound;
        WORD size = (WORD)a->value.size();
        *type = a->type;
        if (!value) {
            *length = size;
            return S_OK;
        }
        if (*length < size) {
            *length = size;
            return kAsfBufferTooSmall;
        }
        memcpy(value, a->value.data(), size);
        *length = size;
        return S_OK;
    }
    STDMETHODIMP SetAttribute(WORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetMarkerCount(WORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMarker(WORD, WCHAR*, WORD*, QWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP AddMarker(LPCWSTR_WMSDK_TYPE_SAFE, QWORD) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMarker(WORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetScriptCount(WORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP AddScript(LPCWSTR_WMSDK_TYPE_SAFE, LPCWSTR_WMSDK_TYPE_SAFE, QWORD) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveScript(WORD) override { return E_NOTIMPL; }

private:
    ~AsfHeaderEditor() = default;
    LONG volatile refs_ = 1;
    Attributes attributes_;
};

}  // namespace

HRESULT CreateAsfHeaderEditor(IWMMetadataEditor** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) AsfHeaderEditor();
    return *out ? S_OK : E_OUTOFMEMORY;
}
