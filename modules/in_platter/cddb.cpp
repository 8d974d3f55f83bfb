// CD database client: disc id, query and read over HTTP, and the track
// information filled from the entry text.
#include "cddb.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdio.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "cd_layer.h"
#include "pyl_comlib.h"

#ifndef VQ_CDDB_HOST
#define VQ_CDDB_HOST "cddb.pylsoft.example"
#endif
#ifndef VQ_CDDB_PORT
#define VQ_CDDB_PORT 80
#endif
#ifndef VQ_CDDB_TIMEOUT_MS
#define VQ_CDDB_TIMEOUT_MS 10000
#endif

namespace {

const char kCgiPath[] = "/~cddb/cddb.cgi";
const char kUser[] = "pylrip@pylsoft.example";
const char kClient[] = "pylrip32 1.0.1";
const int kProtocol = 4;
const bool kUseTitleFile = true;

struct Client {
    char host[256] = VQ_CDDB_HOST;
    int port = VQ_CDDB_PORT;
    int timeoutMs = VQ_CDDB_TIMEOUT_MS;
    CRITICAL_SECTION lock;
    bool lockReady = false;
    char* text = nullptr;  // entry text of the current disc
    CddbMatch match = {};
    bool haveDisc = false;  // text and match belong to discId
    uint32_t discId = 0;
    RecentDisc recent[20] = {};
    int recentPos = -1;
} c;

int DigitTotal(int n)
{
    int total = 0;
    for (; n > 0; n /= 10) total += n % 10;
    return total;
}

void* Alloc(size_t n) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n); }
void Free(void* p)
{
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

// Appends to a bounded text; false when it did not fit (nothing added then).
bool Append(char* dst, size_t capacity, const char* piece)
{
    size_t used = strlen(dst), n = strlen(piece);
    if (used + n + 1 > capacity) return false;
    memcpy(dst + used, piece, n + 1);
    return true;
}

// The hello part of a form: '@' and blanks after its first character become '+'.
void PlusJoin(char* part)
{
    for (char* p = part + (*part ? 1 : 0); *p; ++p)
        if (*p == '@' || *p == ' ') *p = '+';
}

// Skips an HTTP header block; the reply itself when there is none.
const char* SkipHeaders(const char* reply)
{
    if (strncmp(reply, "HTTP", 4) != 0) return reply;
    const char* body = strstr(reply, "\r\n\r\n");
    return body ? body + 4 : reply + strlen(reply);
}

// Length of the line at p, up to CR LF or the end of the text; next is set
// to the start of the line after it.
size_t LineAt(const char* p, const char** next)
{
    const char* end = strstr(p, "\r\n");
    size_t n = end ? (size_t)(end - p) : strlen(p);
    *next = end ? end + 2 : p + n;
    return n;
}

// Next line into out, cut to capacity - 1 characters: the rest of a longer
// line is skipped, never taken as a line of its own. False when no text is left.
bool NextLine(const char*& p, char* out, size_t capacity)
{
    if (!*p) return false;
    const char* line = p;
    size_t n = LineAt(line, &p);
    if (n > capacity - 1) n = capacity - 1;
    memcpy(out, line, n);
    out[n] = '\0';
    return true;
}

void CutTrailingNewline(char* s)
{
    size_t n = strlen(s);
    if (n && (s[n - 1] == '\r' || s[n - 1] == '\n')) s[n - 1] = '\0';
}

void CopyTrimmed(char* dst, size_t width, const char* src)
{
    char tmp[256];
    lstrcpynA(tmp, src, (int)(width < sizeof tmp ? width : sizeof tmp));
    dst[0] = '\0';
    StrTrim(dst, tmp);
}

bool ResolveAndConnect(SOCKET s, const char* host, int port, int timeoutMs, bool* resolved)
{
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)port);
    addr.sin_addr.s_addr = inet_addr(host);
    if (addr.sin_addr.s_addr == INADDR_NONE) {
        hostent* he = gethostbyname(host);
        if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) {
            *resolved = false;
            return false;
        }
        memcpy(&addr.sin_addr, he->h_addr_list[0], 4);
    }
    *resolved = true;
    // Connect without blocking, then wait at most the time-out for it.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, nullptr, &writable, &failed, &tv) != 1 || !FD_ISSET(s, &writable)) return false;
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return true;
}

bool WaitReadable(SOCKET s, int ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &tv) == 1;
}

}  // namespace

void Cddb_SetServer(const char* host, int port, int timeoutMs)
{
    if (host) lstrcpynA(c.host, host, sizeof c.host);
    if (port > 0) c.port = port;
    if (timeoutMs > 0) c.timeoutMs = timeoutMs;
}

void Cddb_Init(const char*, int*)
{
    if (!c.lockReady) {
        InitializeCriticalSection(&c.lock);
        c.lockReady = true;
    }
    char server[300];
    DWORD n = GetEnvironmentVariableA("VQ_CDDB_SERVER", server, sizeof server);
    if (n > 0 && n < sizeof server) {
        char* colon = strrchr(server, ':');
        int port = 0;
        if (colon) {
            *colon = '\0';
            port = atoi(colon + 1);
        }
        Cddb_SetServer(server, port, 0);
    }
    c.text = nullptr;
    c.haveDisc = false;
    memset(&c.match, 0, sizeof c.match);
    Recent_Clear();
}

void Cddb_Quit()
{
    if (c.lockReady) EnterCriticalSection(&c.lock);
    Free(c.text);
    c.text = nullptr;
    c.haveDisc = false;
    if (c.lockReady) {
        LeaveCriticalSection(&c.lock);
        DeleteCriticalSection(&c.lock);
        c.lockReady = false;
    }
}

// ---------------------------------------------------------------------------
// Recent discs

void Recent_Clear()
{
    memset(c.recent, 0, sizeof c.recent);
    c.recentPos = -1;
}

void Recent_Record(uint32_t key, uint32_t discId, int count, const int32_t* values)
{
    if (count < 0) count = 0;
    if (count > 99) count = 99;
    if (c.recentPos == -1) memset(c.recent, 0, sizeof c.recent);
    c.recentPos = c.recentPos + 1 >= 20 ? 0 : c.recentPos + 1;
    RecentDisc& e = c.recent[c.recentPos];
    memset(&e, 0, sizeof e);
    e.cdplayerKey = key;
    e.discId = discId;
    e.count = count;
    memcpy(e.values, values, (count + 1) * sizeof(int32_t));
}

const RecentDisc* Recent_FindById(uint32_t discId)
{
    for (auto& e : c.recent)
        if (e.count > 0 && e.discId == discId) return &e;
    return nullptr;
}

const RecentDisc* Recent_FindByKey(uint32_t key)
{
    for (auto& e : c.recent)
        if (e.count > 0 && e.cdplayerKey == key) return &e;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Disc id and title-file key

namespace {

// Reads the table of contents with MSF addresses; the slot's flag is left
// set when keepMsf, else put back as it was.
bool ReadMsfToc(int handle, uint8_t* toc, TocView* view, bool keepMsf)
{
    DriveSlot* s = CdLayer_LockSlot(handle);
    if (!s) return false;
    int32_t was = s->msf;
    s->msf = 1;
    int r = readTOC(handle, toc);
    if (!keepMsf) s->msf = was;
    CdLayer_UnlockSlot(handle);
    return r == CD_OK && ParseToc(toc, view);
}

uint32_t KeyFromToc(const TocView& v)
{
    uint32_t key = 0;
    for (int i = 0; i < v.count; ++i) {
        const uint8_t* d = v.descriptors + 8 * i;
        if (d[1] & 0x04) continue;  // data track
        key += (uint32_t)d[5] << 16 | d[6] << 8 | d[7];
    }
    return key;
}

}  // namespace

uint32_t CdplayerKey(int handle)
{
    uint8_t toc[kTocBytes];
    TocView v;
    if (!ReadMsfToc(handle, toc, &v, true)) return 0;
    return KeyFromToc(v);
}

int CDDBGetDiskID(int handle, DiscIdRecord* record)
{
    uint8_t toc[kTocBytes];
    TocView v;
    if (!ReadMsfToc(handle, toc, &v, false)) {
        if (CdLayer_LastError() != CDERR_MUTEX_TIMEOUT) CdLayer_SetLastError(CDERR_BAD_HANDLE);
        return CD_FAIL;
    }
    memset(record, 0, sizeof *record);
    int total = 0;
    for (int i = 0; i < v.count; ++i) {
        const uint8_t* d = v.descriptors + 8 * i;
        record->values[i] = d[5] * 4500 + d[6] * 75 + d[7];
        total += DigitTotal(d[5] * 60 + d[6]);
    }
    const uint8_t* lead = v.descriptors + 8 * v.count;
    int leadSeconds = lead[5] * 60 + lead[6];
    int firstSeconds = v.descriptors[5] * 60 + v.descriptors[6];
    record->values[v.count] = leadSeconds;
    record->count = v.count;
    record->discId = ((uint32_t)(total % 255) << 24) | ((uint32_t)(leadSeconds - firstSeconds) << 8) | (uint32_t)v.count;
    Recent_Record(KeyFromToc(v), record->discId, v.count, record->values);
    return CD_OK;
}

// ---------------------------------------------------------------------------
// Query and read

bool Cddb_ParseMatchLine(const char* line, CddbMatch* m)
{
    memset(m, 0, sizeof *m);
    const char* blank = strchr(line, ' ');
    if (!blank || blank == line) return false;
    size_t n = (size_t)(blank - line);
    memcpy(m->category, line, n < 11 ? n : 11);
    const char* p = blank;
    while (*p == ' ') ++p;
    int digits = 0;
    while (digits < 8 && isxdigit((unsigned char)p[digits])) ++digits;
    if (p[digits] != ' ') return false;
    memcpy(m->discId, p, digits);
    p += digits;
    while (*p == ' ') ++p;
    const char* slash = strstr(p, " / ");
    if (slash) {
        size_t a = (size_t)(slash - p);
        memcpy(m->artist, p, a < 80 ? a : 80);
        lstrcpynA(m->title, slash + 3, 81);
    } else {
        lstrcpynA(m->artist, p, 81);
        lstrcpynA(m->title, p, 81);
    }
    CutTrailingNewline(m->artist);
    CutTrailingNewline(m->title);
    return true;
}

void Cddb_ParseQueryReply(const char* reply, CddbQueryResult* result)
{
    int room = result->count;
    result->count = 0;
    const char* p = SkipHeaders(reply);
    char line[80];
    if (!NextLine(p, line, sizeof line)) return;
    if (!isdigit((unsigned char)line[0]) || !isdigit((unsigned char)line[1]) || !isdigit((unsigned char)line[2]))
        return;
    int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (code == 200) {
        if (room >= 1 && strlen(line) > 4 && Cddb_ParseMatchLine(line + 4, &result->matches[0])) {
            result->matches[0].exact = 1;
            result->count = 1;
        }
    } else if (code == 210 || code == 211) {
        for (int i = 0; i < 100 && result->count < room; ++i) {
            if (!NextLine(p, line, sizeof line) || strcmp(line, ".") == 0) break;
            CddbMatch* m = &result->matches[result->count];
            if (Cddb_ParseMatchLine(line, m)) {
                m->exact = code == 210 ? 1 : 0;
                ++result->count;
            }
        }
    }
}

int CDDBPostCmd(const char* cgiPath, const char* form, const char* extraHeaders, char* reply, int capacity)
{
    if (!reply || capacity < 1) return 0;
    memset(reply, 0, capacity);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) return 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        WSACleanup();
        return 0;
    }
    bool resolved = false;
    bool connected = ResolveAndConnect(s, c.host, c.port, c.timeoutMs, &resolved);
    if (!resolved) {
        closesocket(s);
        WSACleanup();
        return 0;
    }
    int received = 0;
    size_t formLength = strlen(form);
    size_t size = strlen(cgiPath) + formLength + (extraHeaders ? strlen(extraHeaders) : 0) + 256;
    char* request = static_cast<char*>(Alloc(size));
    if (connected && request) {
        int n = snprintf(request, size,
                         "POST %s HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                         "User-Agent: ZoRip090\r\n%sContent-Length: %d\r\n\r\n%s\r\n",
                         cgiPath, extraHeaders ? extraHeaders : "", (int)formLength + 2, form);
        int timeout = c.timeoutMs;
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        int sent = 0;
        while (sent < n) {
            int k = send(s, request + sent, n - sent, 0);
            if (k <= 0) break;
            sent += k;
        }
        // Pieces of at most 128 bytes while that much room is left; each wait
        // is bounded, and so is the whole reply.
        DWORD deadline = GetTickCount() + 3 * (DWORD)c.timeoutMs;
        while (sent == n && capacity - 1 - received >= 128) {
            int left = (int)(deadline - GetTickCount());
            if (left <= 0 || !WaitReadable(s, left < c.timeoutMs ? left : c.timeoutMs)) break;
            int k = recv(s, reply + received, 128, 0);
            if (k <= 0) break;
            received += k;
        }
    }
    Free(request);
    closesocket(s);
    WSACleanup();
    return received;
}

int CDDBQuery(int handle, CddbQueryResult* result)
{
    auto* record = static_cast<DiscIdRecord*>(Alloc(sizeof(DiscIdRecord)));
    char* form = static_cast<char*>(Alloc(1024));
    char* reply = static_cast<char*>(Alloc(kQueryReplyBytes));
    if (!record || !form || !reply) {
        Free(record);
        Free(form);
        Free(reply);
        result->count = 0;
        return CD_FAIL;
    }
    if (CDDBGetDiskID(handle, record) != CD_OK) {
        // No disc id, no query: no match either (the records were not filled).
        result->count = 0;
        Free(record);
        Free(form);
        Free(reply);
        return CD_OK;
    }
    int n = record->count;
    snprintf(form, 1024, "cmd=cddb+query+%08x+%d+", (unsigned)record->discId, n);
    for (int i = 0; i < n; ++i) {
        char piece[16];
        snprintf(piece, sizeof piece, "%d+", record->values[i]);
        Append(form, 1024, piece);
    }
    char tail[256];
    snprintf(tail, sizeof tail, "%d&hello=%s+%s&proto=%d", record->values[n], kUser, kClient, kProtocol);
    PlusJoin(tail);
    Append(form, 1024, tail);
    CDDBPostCmd(kCgiPath, form, nullptr, reply, kQueryReplyBytes);
    Cddb_ParseQueryReply(reply, result);

    if (kUseTitleFile && result->count == 0) {
        uint32_t key = CdplayerKey(handle);
        if (key && TitleFile_HasDisc(key) && result->matches) {
            CddbMatch* m = &result->matches[0];
            memset(m, 0, sizeof *m);
            strcpy(m->category, "cdplayerini");
            snprintf(m->discId, sizeof m->discId, "%X", (unsigned)key);
            m->exact = 1;
            result->count = 1;
        }
    } else if (kUseTitleFile) {
        uint32_t key = 0;
        for (int i = 0; i < result->count; ++i) {
            if (!key) key = CdplayerKey(handle);
            Recent_Record(key, (uint32_t)xstol(result->matches[i].discId), n, record->values);
        }
    }
    Free(record);
    Free(form);
    Free(reply);
    return CD_OK;
}

int CDDBRead(CddbMatch* match, char* text, int capacity)
{
    if (!match || !text || capacity < 2) return CD_FAIL;
    if (strcmp(match->category, "cdplayerini") == 0) return TitleFile_Read(match, text, capacity);
    char form[256];
    snprintf(form, sizeof form, "cmd=cddb+read+%s+%s", match->category, match->discId);
    char tail[128];
    snprintf(tail, sizeof tail, "&hello=%s+%s&proto=%d", kUser, kClient, kProtocol);
    PlusJoin(tail);
    Append(form, sizeof form, tail);
    char* reply = static_cast<char*>(Alloc(capacity));
    if (!reply) return CD_FAIL;
    CDDBPostCmd(kCgiPath, form, nullptr, reply, capacity);
    const char* body = SkipHeaders(reply);
    int result = CD_FAIL;
    const char* lf = strchr(body, '\n');
    if (strncmp(body, "210", 3) == 0 && lf) {
        const char* entry = lf + 1;
        size_t n = strlen(entry);
        if (n < (size_t)capacity) {
            memcpy(text, entry, n + 1);
            // The closing "." line ends the entry.
            for (size_t k = n >= 3 ? n - 3 : 0; k < n; ++k) {
                if (text[k] == '.') {
                    text[k] = '\0';
                    break;
                }
            }
            if (kUseTitleFile && text[0]) TitleFile_Write(match, text);
            result = CD_OK;
        }
    }
    Free(reply);
    return result;
}

// ---------------------------------------------------------------------------
// Track information

bool Entry_JoinedValue(const char* text, const char* key, char* out, size_t capacity)
{
    size_t keyLength = strlen(key);
    bool found = false;
    out[0] = '\0';
    size_t used = 0;
    for (const char *p = text, *next; *p; p = next) {
        size_t n = LineAt(p, &next);
        if (n < keyLength || strncmp(p, key, keyLength) != 0) continue;
        found = true;
        size_t piece = n - keyLength;
        if (piece > capacity - 1 - used) piece = capacity - 1 - used;
        memcpy(out + used, p + keyLength, piece);
        used += piece;
        out[used] = '\0';
    }
    return found;
}

namespace {

// Query, then read the exact match into the disc text.
int Fetch(int handle)
{
    CddbMatch match = {};
    CddbQueryResult result = {1, &match};
    int r = CDDBQuery(handle, &result);
    if (r == CD_OK && result.count >= 1 && match.exact == 1) {
        c.match = match;
        if (CDDBRead(&c.match, c.text, kDiscTextBytes) != CD_OK) return 0;
    }
    return 1;
}

void Fill(TrackInfo* info, int trackNumber)
{
    info->albumRepeatAfter = info->artistRepeatAfter = info->genreRepeatAfter = info->repeatEvery = -1;
    char key[32], value[128];
    snprintf(key, sizeof key, "TTITLE%d=", trackNumber - 1);
    if (Entry_JoinedValue(c.text, key, value, sizeof value)) {
        info->title[0] = '\0';
        StrTrim(info->title, value);
    } else {
        strcpy(info->title, VQ_TAG_NOT_SET);
    }
    CopyTrimmed(info->album, sizeof info->album, c.match.title);
    CopyTrimmed(info->author, sizeof info->author, c.match.artist);
    CopyTrimmed(info->genre, sizeof info->genre, c.match.category);
    strcpy(info->rating, VQ_TAG_NOT_SET);
    const char* year = strstr(c.text, "YEAR");
    if (year) {
        const char* lineEnd = year + strcspn(year, "\r\n");
        const char* blank = static_cast<const char*>(memchr(year, ' ', (size_t)(lineEnd - year)));
        if (blank) {
            char piece[16];
            size_t n = (size_t)(lineEnd - blank - 1);
            if (n > 15) n = 15;
            memcpy(piece, blank + 1, n);
            piece[n] = '\0';
            info->year[0] = '\0';
            StrTrim(info->year, piece);
        }
    }
}

}  // namespace

int Cddb_FillTrackInfo(int handle, int trackNumber, TrackInfo* info)
{
    if (!c.lockReady) return 0;
    EnterCriticalSection(&c.lock);
    int result = 1;
    if (!c.text) c.text = static_cast<char*>(Alloc(kDiscTextBytes));
    if (!c.text) {
        LeaveCriticalSection(&c.lock);
        return 0;
    }
    // The text belongs to one disc: another disc in the drive is looked up anew.
    DiscIdRecord record;
    bool known = CDDBGetDiskID(handle, &record) == CD_OK;
    if (!known || !c.haveDisc || record.discId != c.discId) {
        c.text[0] = '\0';
        memset(&c.match, 0, sizeof c.match);
        c.haveDisc = false;
        if (known) {
            result = Fetch(handle);
            if (result) {
                c.haveDisc = true;
                c.discId = record.discId;
            }
        }
    }
    if (result) Fill(info, trackNumber);
    LeaveCriticalSection(&c.lock);
    return result;
}
