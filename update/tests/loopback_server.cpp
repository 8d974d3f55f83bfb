#include "loopback_server.h"

#include <ws2tcpip.h>

LoopbackServer::LoopbackServer() : stop(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, (sockaddr*)&addr, sizeof addr);
    listen(listener, 4);
    int len = sizeof addr;
    getsockname(listener, (sockaddr*)&addr, &len);
    port = ntohs(addr.sin_port);
}

LoopbackServer::~LoopbackServer()
{
    SetEvent(stop);
    if (worker.joinable()) worker.join();
    closesocket(listener);
    CloseHandle(stop);
}

std::string LoopbackServer::HostPort() const { return "127.0.0.1:" + std::to_string(port); }

void LoopbackServer::Answer(std::vector<Piece> pieces)
{
    worker = std::thread([this, pieces] { Serve(pieces, false); });
}

void LoopbackServer::StaySilent()
{
    worker = std::thread([this] { Serve({}, true); });
}

std::string LoopbackServer::Request()
{
    if (worker.joinable()) worker.join();
    return request;
}

void LoopbackServer::Serve(std::vector<Piece> pieces, bool silent)
{
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(listener, &rd);
    timeval tv = {10, 0};
    if (select(0, &rd, nullptr, nullptr, &tv) <= 0) return;
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&noDelay, sizeof noDelay);

    DWORD recvTimeout = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&recvTimeout, sizeof recvTimeout);
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, n);
    }
    if (silent) {
        WaitForSingleObject(stop, 30000);
    } else {
        for (const Piece& p : pieces) {
            if (p.pauseBeforeMs > 0 && WaitForSingleObject(stop, p.pauseBeforeMs) == WAIT_OBJECT_0) break;
            if (send(s, p.data.data(), (int)p.data.size(), 0) < 0) break;
        }
    }
    shutdown(s, SD_SEND);
    closesocket(s);
}

int UnusedPort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr*)&addr, sizeof addr);
    int len = sizeof addr;
    getsockname(s, (sockaddr*)&addr, &len);
    closesocket(s);
    return ntohs(addr.sin_port);
}

std::vector<Piece> Chop(const std::string& text, size_t size, int pauseMs)
{
    std::vector<Piece> out;
    for (size_t i = 0; i < text.size(); i += size) out.push_back({text.substr(i, size), pauseMs});
    return out;
}
