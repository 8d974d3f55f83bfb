// A one-connection HTTP server on 127.0.0.1 for the update tests: captures the
// request, then sends scripted pieces (with pauses) or stays silent.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

struct Piece {
    std::string data;
    int pauseBeforeMs = 0;
};

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    // Answers the next connection with these pieces, then closes it.
    void Answer(std::vector<Piece> pieces);
    // Accepts and reads the request but sends nothing until the server is destroyed.
    void StaySilent();
    int Port() const { return port; }
    std::string HostPort() const;
    // The request as received (waits for the connection to be served).
    std::string Request();

private:
    void Serve(std::vector<Piece> pieces, bool silent);
    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    HANDLE stop;
    std::thread worker;
    std::string request;
};

// A loopback port that nothing listens on.
int UnusedPort();
// Splits text into pieces of `size` bytes, each after a pause.
std::vector<Piece> Chop(const std::string& text, size_t size, int pauseMs);
