// Small HTTP/1.0 GET client over Winsock, as the update manager uses it.
#pragma once
#include <winsock2.h>
#include <windows.h>

class PylNetLib {
public:
    // Starts Winsock 2.2; 0 when ready.
    static int InitSocketLib();
    // Balances a successful InitSocketLib.
    static void CleanupSocketLib();
};

// Host name to IPv4 address.
class DnsResolver {
public:
    // 0 on success, with *out in network byte order.
    int Resolve(const char* host, in_addr* out);
};

class HTTPGet {
public:
    enum Status { StatusIdle = 0, StatusWaiting = 1, StatusBody = 2 };
    static const int DefaultTimeoutMs = 15000;

    // resolver: NULL or (DnsResolver*)-1 to resolve names ourselves.
    // bufferSize: the most body bytes held unread. reserved: must be NULL.
    HTTPGet(DnsResolver* resolver, int bufferSize, char* reserved);
    ~HTTPGet();
    HTTPGet(const HTTPGet&) = delete;
    HTTPGet& operator=(const HTTPGet&) = delete;

    // A complete header line ("Name: value"), sent with the request.
    int AddHeader(char* line);
    // Starts a GET of an absolute "http://host[:port]/path" address; 0 when started.
    int Connect(char* url);
    // Advances the transfer, waiting a short while for the network:
    // below 0 error (see GetErrorText), 1 finished, 0 in progress.
    int Run();
    // StatusBody once a 2xx answer's headers are in and its body can be read.
    int GetStatus() const;
    // Body bytes that can be read as whole lines (everything once the transfer ended).
    int BytesAvailable() const;
    // Copies the next line without its line end, zero-terminated and cut to size;
    // the whole line is consumed. Returns the characters copied, -1 when none is ready.
    int GetLine(char* buf, int size);
    // Text of the last error ("" without one).
    const char* GetErrorText() const { return error; }
    // Longest wait for the connection and between two received pieces; the
    // whole transfer may take four times as long.
    void SetTimeout(int ms) { timeoutMs = ms > 0 ? ms : DefaultTimeoutMs; }
    // HTTP status code of the answer (0 before its headers).
    int GetHttpCode() const { return httpCode; }

private:
    enum State { Idle, Connecting, Sending, Headers, Body, Done, Failed };

    int Fail(const char* fmt, ...);
    int ParseHeaders();
    int LineAvailableEnd() const;
    int WaitSocket(bool forWrite, int ms);

    DnsResolver ownResolver;
    DnsResolver* resolver;
    SOCKET sock = INVALID_SOCKET;
    State state = Idle;
    int timeoutMs = DefaultTimeoutMs;
    DWORD lastActivity = 0;
    DWORD startTick = 0;
    char* request = nullptr;   // request text being sent
    int requestLen = 0, requestSent = 0;
    char* headers = nullptr;   // extra header lines, "\r\n"-terminated
    int headersLen = 0;
    char* buf = nullptr;       // received bytes not yet consumed
    int bufSize = 0, bufUsed = 0;
    int httpCode = 0;
    long long contentLeft = -1;  // -1: until the server closes
    char error[256];
};
