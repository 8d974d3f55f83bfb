// The system CD player's title file "cdplayer.ini" (in the Windows folder):
// entries fetched from the server are written into it, and a disc the server
// does not know is read from it in the entry form of the server.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "cddb.h"
#include "pyl_comlib.h"

namespace {

const char kFile[] = "cdplayer.ini";

bool AppendPiece(char* text, int* left, const char* piece)
{
    int n = (int)strlen(piece);
    if (n + 1 > *left) return false;
    strcat(text, piece);
    *left -= n;
    return true;
}

}  // namespace

bool TitleFile_HasDisc(uint32_t key)
{
    char section[16];
    snprintf(section, sizeof section, "%X", (unsigned)key);
    return GetPrivateProfileIntA(section, "NUMTRACKS", 0, kFile) != 0;
}

void TitleFile_Write(const CddbMatch* match, const char* text)
{
    const RecentDisc* disc = Recent_FindById((uint32_t)xstol(match->discId));
    if (!disc) return;
    char section[16], number[16];
    snprintf(section, sizeof section, "%X", (unsigned)disc->cdplayerKey);
    WritePrivateProfileStringA(section, "EntryType", "1", kFile);
    WritePrivateProfileStringA(section, "artist", match->artist, kFile);
    WritePrivateProfileStringA(section, "title", match->title, kFile);
    WritePrivateProfileStringA(section, "genre", match->category, kFile);
    snprintf(number, sizeof number, "%d", disc->count);
    WritePrivateProfileStringA(section, "numtracks", number, kFile);
    // Every "TTITLE<n>=" key once, with its pieces joined as the track
    // information reads them.
    const char* p = text;
    while ((p = strstr(p, "TTITLE")) != nullptr) {
        bool lineStart = p == text || p[-1] == '\n';
        const char* eq = strchr(p, '=');
        const char* lineEnd = p + strcspn(p, "\r\n");
        if (!lineStart || !eq || eq > lineEnd || eq == p + 6 || eq - (p + 6) > 8) {
            p += 6;
            continue;
        }
        char index[16], key[32], value[256];
        memcpy(index, p + 6, eq - (p + 6));
        index[eq - (p + 6)] = '\0';
        snprintf(key, sizeof key, "TTITLE%s=", index);
        // Only the first line of a key writes it.
        bool first = true;
        for (const char* q = strstr(text, key); q && q < p; q = strstr(q + 1, key))
            if (q == text || q[-1] == '\n') first = false;
        if (first && Entry_JoinedValue(text, key, value, sizeof value))
            WritePrivateProfileStringA(section, index, value, kFile);
        p = lineEnd;
    }
}

int TitleFile_Read(CddbMatch* match, char* text, int capacity)
{
    const char* section = match->discId;
    uint32_t key = (uint32_t)xstol(section);
    const RecentDisc* disc = Recent_FindByKey(key);
    int n = (int)GetPrivateProfileIntA(section, "NUMTRACKS", 0, kFile);
    if (n <= 0) return 4;
    strcpy(match->category, "rock");
    match->exact = 1;
    char value[256];
    GetPrivateProfileStringA(section, "ARTIST", "", value, sizeof value, kFile);
    lstrcpynA(match->artist, value, 80);
    GetPrivateProfileStringA(section, "TITLE", "", value, sizeof value, kFile);
    lstrcpynA(match->title, value, 80);

    text[0] = '\0';
    int left = capacity;
    char piece[320];
    AppendPiece(text, &left, "# xmcd CD database file\r\n");
    AppendPiece(text, &left, "#\r\n# Track frame offsets:\r\n");
    // Without a recent record of the disc the offsets are not known: none are listed.
    int known = disc ? disc->count : 0;
    for (int i = 0; i < n && i < known; ++i) {
        snprintf(piece, sizeof piece, "#\t%d\r\n", disc->values[i]);
        AppendPiece(text, &left, piece);
    }
    snprintf(piece, sizeof piece, "#\r\n# Disc length: %d\r\n#\r\n", (disc ? disc->values[disc->count] : 0) + 2);
    AppendPiece(text, &left, piece);
    AppendPiece(text, &left,
                "# Revision: 1\r\n# Processed by: Some program that we don't know\r\n# Submitted by: Some guy\r\n#\r\n");
    snprintf(piece, sizeof piece, "DTITLE=%s / %s\r\n", match->artist, match->title);
    AppendPiece(text, &left, piece);
    for (int i = 0; i < n; ++i) {
        char name[16], fallback[32];
        snprintf(name, sizeof name, "%d", i);
        snprintf(fallback, sizeof fallback, "Track %d", i + 1);
        GetPrivateProfileStringA(section, name, fallback, value, sizeof value, kFile);
        if ((int)strlen(value) + 12 >= left) break;
        snprintf(piece, sizeof piece, "TTITLE%d=%s\r\n", i, value);
        AppendPiece(text, &left, piece);
    }
    return 1;
}
