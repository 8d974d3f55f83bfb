#include "PylNetLib.h"

#include <ws2tcpip.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int kSliceMs = 50;          // longest single wait inside Run
const int kMaxHeaderBytes = 16384;
const DWORD kTotalTimeoutFactor = 4;  // whole transfer: four times the wait timeout

void* Alloc(size_t n) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n); }
void Free(void* p)
{
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

bool StartsWithNoCase(const char* s, const char* prefix)
{
    return _strnicmp(s, prefix, strlen(prefix)) == 0;
}

}  // namespace

int PylNetLib::InitSocketLib()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void PylNetLib::CleanupSocketLib() { WSACleanup(); }

int DnsResolver::Resolve(const char* host, in_addr* out)
{
    if (!host || !*host || !out) return -1;
    unsigned long numeric = inet_addr(host);
    if (numeric != INADDR_NONE) {
        out->s_addr = numeric;
        return 0;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return -1;
    *out = ((sockaddr_in*)found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 0;
}

HTTPGet::HTTPGet(DnsResolver* r, int bufferSize, char* /*reserved*/)
    : resolver(r == nullptr || r == (DnsResolver*)-1 ? &ownResolver : r)
{
    error[0] = 0;
    bufSize = bufferSize > 0 ? bufferSize : 16384;
    if (bufSize < 1024) bufSize = 1024;
    buf = (char*)Alloc(bufSize);
}

HTTPGet::~HTTPGet()
{
    if (sock != INVALID_SOCKET) closesocket(sock);
    Free(request);
    Free(headers);
    Free(buf);
}

int HTTPGet::Fail(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(error, sizeof error, fmt, ap);
    va_end(ap);
    state = Failed;
    if (sock != INVALID_SOCKET) {
        closesocket(sock);
        sock = INVALID_SOCKET;
    }
    return -1;
}

int HTTPGet::AddHeader(char* line)
{
    if (!line || state != Idle) return -1;
    size_t n = strlen(line);
    if (strpbrk(line, "\r\n")) return -1;  // one line only: no smuggled headers
    char* grown = (char*)Alloc(headersLen + n + 3);
    if (!grown) return -1;
    if (headers) memcpy(grown, headers, headersLen);
    memcpy(grown + headersLen, line, n);
    memcpy(grown + headersLen + n, "\r\n", 2);
    Free(headers);
    headers = grown;
    headersLen += (int)n + 2;
    return 0;
}

int HTTPGet::Connect(char* url)
{
    if (state != Idle) return Fail("request already started");
    if (!buf) return Fail("out of memory");
    if (!url || !StartsWithNoCase(url, "http://")) return Fail("unsupported address: %.200s", url ? url : "(none)");

    const char* hostStart = url + 7;
    const char* hostEnd = hostStart + strcspn(hostStart, ":/?#");
    if (hostEnd == hostStart || hostEnd - hostStart > 255) return Fail("bad host in address");
    char host[256];
    memcpy(host, hostStart, hostEnd - hostStart);
    host[hostEnd - hostStart] = 0;
    const char* hostPortEnd = hostEnd;
    unsigned port = 80;
    if (*hostEnd == ':') {
        char* end = nullptr;
        unsigned long p = strtoul(hostEnd + 1, &end, 10);
        if (end == hostEnd + 1 || p == 0 || p > 65535 || (*end && !strchr("/?#", *end)))
            return Fail("bad port in address");
        port = (unsigned)p;
        hostPortEnd = end;
    }
    const char* path = hostPortEnd;
    size_t pathLen = strcspn(path, "#");
    if (pathLen == 0) path = "/", pathLen = 1;

    size_t cap = pathLen + (hostPortEnd - hostStart) + headersLen + 64;
    request = (char*)Alloc(cap);
    if (!request) return Fail("out of memory");
    int n = snprintf(request, cap, "GET %s%.*s HTTP/1.0\r\nHost: %.*s\r\n", *path == '/' ? "" : "/",
                     (int)pathLen, path, (int)(hostPortEnd - hostStart), hostStart);
    if (n < 0 || (size_t)n >= cap) return Fail("address too long");
    if (headers) memcpy(request + n, headers, headersLen);
    n += headersLen;
    memcpy(request + n, "\r\n", 2);
    requestLen = n + 2;

    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)port);
    if (resolver->Resolve(host, &addr.sin_addr) != 0) return Fail("cannot resolve host %s", host);

    sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) return Fail("cannot create socket (error %d)", WSAGetLastError());
    u_long nonBlocking = 1;
    ioctlsocket(sock, FIONBIO, &nonBlocking);
    if (connect(sock, (sockaddr*)&addr, sizeof addr) != 0) {
        int err = WSAGetLastError();
        if (err != WSAEWOULDBLOCK && err != WSAEINPROGRESS)
            return Fail("cannot connect to %s:%u (error %d)", host, port, err);
    }
    state = Connecting;
    startTick = lastActivity = GetTickCount();
    return 0;
}

// 1 ready, 0 not yet, -1 socket error (text set).
int HTTPGet::WaitSocket(bool forWrite, int ms)
{
    fd_set rd, wr, ex;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    if (forWrite) {
        FD_SET(sock, &wr);
        FD_SET(sock, &ex);
    } else {
        FD_SET(sock, &rd);
    }
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    int n = select(0, &rd, &wr, &ex, &tv);
    if (n < 0) return Fail("network wait failed (error %d)", WSAGetLastError());
    if (n == 0) return 0;
    if (FD_ISSET(sock, &ex) || state == Connecting) {
        int soError = 0;
        int len = sizeof soError;
        getsockopt(sock, SOL_SOCKET, SO_ERROR, (char*)&soError, &len);
        if (soError != 0 || FD_ISSET(sock, &ex)) {
            if (soError == WSAECONNREFUSED) return Fail("connection refused (error %d)", soError);
            return Fail("cannot connect (error %d)", soError);
        }
    }
    return 1;
}

int HTTPGet::Run()
{
    switch (state) {
    case Idle:
        return Fail("no request started");
    case Failed:
        return -1;
    case Done:
        return 1;
    default:
        break;
    }

    bool writing = state == Connecting || state == Sending;
    bool bufferFull = !writing && bufUsed >= bufSize;
    if (bufferFull) {  // the reader has to take lines first
        lastActivity = GetTickCount();
        return 0;
    }

    DWORD now = GetTickCount();
    // A server that trickles bytes forever must not hold the caller either.
    if (now - startTick >= (DWORD)timeoutMs * kTotalTimeoutFactor) return Fail("answer took too long (timed out)");
    DWORD idle = now - lastActivity;
    if (idle >= (DWORD)timeoutMs)
        return Fail(state == Connecting ? "connection timed out" : "no answer from server (timed out)");
    int wait = (int)((DWORD)timeoutMs - idle);
    if (wait > kSliceMs) wait = kSliceMs;

    int ready = WaitSocket(writing, wait);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    lastActivity = GetTickCount();

    if (state == Connecting) state = Sending;
    if (state == Sending) {
        int sent = send(sock, request + requestSent, requestLen - requestSent, 0);
        if (sent < 0) {
            int err = WSAGetLastError();
            if (err == WSAEWOULDBLOCK) return 0;
            return Fail("cannot send request (error %d)", err);
        }
        requestSent += sent;
        if (requestSent >= requestLen) state = Headers;
        return 0;
    }

    int room = bufSize - bufUsed;
    if (state == Body && contentLeft >= 0 && contentLeft < room) room = (int)contentLeft;
    int got = room > 0 ? recv(sock, buf + bufUsed, room, 0) : 0;
    if (got < 0) {
        int err = WSAGetLastError();
        if (err == WSAEWOULDBLOCK) return 0;
        return Fail("connection lost (error %d)", err);
    }
    if (got == 0) {
        if (state == Headers) return Fail("server closed the connection without an answer");
        if (contentLeft > 0) return Fail("server closed the connection early");
        state = Done;
        closesocket(sock);
        sock = INVALID_SOCKET;
        return 1;
    }
    bufUsed += got;
    if (state == Headers) {
        int rc = ParseHeaders();
        if (rc != 0) return rc;
    } else if (contentLeft >= 0) {
        contentLeft -= got;
    }
    if (state == Body && contentLeft == 0) {
        state = Done;
        closesocket(sock);
        sock = INVALID_SOCKET;
        return 1;
    }
    return 0;
}

// Takes the status line and headers off the front of the buffer once they are complete.
int HTTPGet::ParseHeaders()
{
    char* end = nullptr;
    for (int i = 0; i + 3 < bufUsed; ++i) {
        if (memcmp(buf + i, "\r\n\r\n", 4) == 0) {
            end = buf + i;
            break;
        }
    }
    if (!end) {
        if (bufUsed >= bufSize || bufUsed >= kMaxHeaderBytes) return Fail("answer headers too long");
        return 0;
    }
    *end = 0;
    char* statusEnd = strstr(buf, "\r\n");
    if (statusEnd) *statusEnd = 0;
    int major = 0, minor = 0, code = 0;
    if (sscanf(buf, "HTTP/%d.%d %d", &major, &minor, &code) != 3 || code < 100 || code > 999)
        return Fail("not an HTTP answer: %.100s", buf);
    httpCode = code;
    if (code < 200 || code > 299) return Fail("server answered %.200s", buf);

    for (char* line = statusEnd ? statusEnd + 2 : end; line < end;) {
        char* next = strstr(line, "\r\n");
        if (next) *next = 0;
        if (StartsWithNoCase(line, "Content-Length:")) {
            long long n = _atoi64(line + 15);
            if (n >= 0) contentLeft = n;
        } else if (StartsWithNoCase(line, "Transfer-Encoding:") && !strstr(line, "identity")) {
            return Fail("unsupported transfer encoding");
        }
        line = next ? next + 2 : end;
    }

    int headerBytes = (int)(end - buf) + 4;
    bufUsed -= headerBytes;
    memmove(buf, buf + headerBytes, bufUsed);
    if (contentLeft >= 0) {
        if (bufUsed > contentLeft) bufUsed = (int)contentLeft;
        contentLeft -= bufUsed;
    }
    state = Body;
    return 0;
}

int HTTPGet::GetStatus() const
{
    if (state == Body || state == Done) return StatusBody;
    if (state == Idle) return StatusIdle;
    return StatusWaiting;
}

// End (exclusive) of the bytes that form whole lines.
int HTTPGet::LineAvailableEnd() const
{
    if (state == Done || bufUsed >= bufSize) return bufUsed;  // the rest is a line of its own
    for (int i = bufUsed - 1; i >= 0; --i)
        if (buf[i] == '\n') return i + 1;
    return 0;
}

int HTTPGet::BytesAvailable() const
{
    if (state != Body && state != Done) return 0;
    return LineAvailableEnd();
}

int HTTPGet::GetLine(char* out, int size)
{
    int avail = BytesAvailable();
    if (avail <= 0) {
        if (out && size > 0) out[0] = 0;
        return -1;
    }
    const char* nl = (const char*)memchr(buf, '\n', avail);
    int consumed = nl ? (int)(nl - buf) + 1 : avail;
    int len = nl ? (int)(nl - buf) : avail;
    if (len > 0 && buf[len - 1] == '\r') --len;
    int copied = 0;
    if (out && size > 0) {
        copied = len < size - 1 ? len : size - 1;
        memcpy(out, buf, copied);
        out[copied] = 0;
    }
    bufUsed -= consumed;
    memmove(buf, buf + consumed, bufUsed);
    return copied;
}
