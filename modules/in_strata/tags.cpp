// Track information and ID3 tags of MPEG files (through id3lib).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <id3/misc_support.h>
#include <id3/tag.h>

#include "in_strata.h"
#include "tag_text.h"
#include "tag_window_reader.h"
#include "track_file_time.h"

const char* const g_genres[148] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal",
    "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk",
    "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk",
    "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi",
    "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass",
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club",
    "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore",
    "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock ", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop"};

namespace {

const char kNotSet[] = VQ_TAG_NOT_SET;

void CopyText(char* dst, size_t width, const char* src)
{
    size_t n = strlen(src);
    if (n > width - 1) n = width - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
}

bool IsNotSet(const char* text) { return strcmp(text, kNotSet) == 0; }

// Bounded copy of a fixed-width record field (it may lack its NUL).
void FieldText(char* dst, size_t dstSize, const char* field, size_t width)
{
    size_t n = strnlen(field, width);
    if (n > dstSize - 1) n = dstSize - 1;
    memcpy(dst, field, n);
    dst[n] = '\0';
}

}  // namespace

void GenreFromContentType(const char* text, char* genre)
{
    if (!text || !*text) {
        CopyText(genre, 128, kNotSet);
        return;
    }
    if (text[0] != '(' || text[1] == '(') {
        CopyText(genre, 128, text[0] == '(' ? text + 1 : text);  // "((" escapes a literal parenthesis
        return;
    }
    // "(RX)" and "(CR)" are the two named references of ID3v2.
    if (strncmp(text, "(RX)", 4) == 0) {
        CopyText(genre, 128, "Remix");
        return;
    }
    if (strncmp(text, "(CR)", 4) == 0) {
        CopyText(genre, 128, "Cover");
        return;
    }
    if (text[1] < '0' || text[1] > '9') {
        CopyText(genre, 128, text);
        return;
    }
    long n = atol(text + 1);
    if (n >= 0 && n <= 147) CopyText(genre, 128, g_genres[n]);
}

namespace {

// A frame's text in the ANSI code page (empty when the frame or its text is missing).
void FrameText(const ID3_Frame* frame, ID3_FieldID id, char* dst, size_t width)
{
    dst[0] = '\0';
    ID3_Field* field = frame ? frame->GetField(id) : nullptr;
    if (!field) return;
    // The library keeps single-byte text as it was read and UTF-16 as
    // big-endian units without their byte-order mark.
    int enc = field->GetEncoding();
    const unsigned char* p;
    if (enc == ID3TE_UTF16 || enc == ID3TE_UTF16BE) {
        p = reinterpret_cast<const unsigned char*>(field->GetRawUnicodeText());
        enc = kTagUtf16Be;
    } else {
        p = reinterpret_cast<const unsigned char*>(field->GetRawText());
    }
    if (p) TagTextToAnsi(p, field->Size(), enc, dst, width);
}

void TextsFromTag(const ID3_Tag& tag, TagTexts* t)
{
    const ID3_Frame* artist = nullptr;
    for (ID3_FrameID id : {ID3FID_LEADARTIST, ID3FID_BAND, ID3FID_CONDUCTOR, ID3FID_COMPOSER})
        if ((artist = tag.Find(id))) break;
    FrameText(artist, ID3FN_TEXT, t->artist, sizeof t->artist);
    FrameText(tag.Find(ID3FID_ALBUM), ID3FN_TEXT, t->album, sizeof t->album);
    FrameText(tag.Find(ID3FID_TITLE), ID3FN_TEXT, t->title, sizeof t->title);
    FrameText(tag.Find(ID3FID_YEAR), ID3FN_TEXT, t->year, sizeof t->year);
    // The comment of an ID3v1 tag counts only when there is no other.
    const ID3_Frame* comment = tag.Find(ID3FID_COMMENT);
    if (comment == tag.Find(ID3FID_COMMENT, ID3FN_DESCRIPTION, STR_V1_COMMENT_DESC))
        comment = tag.Find(ID3FID_COMMENT);
    FrameText(comment, ID3FN_TEXT, t->comment, sizeof t->comment);
    FrameText(tag.Find(ID3FID_TRACKNUM), ID3FN_TEXT, t->track, sizeof t->track);
    FrameText(tag.Find(ID3FID_CONTENTTYPE), ID3FN_TEXT, t->genre, sizeof t->genre);
    FrameText(tag.Find(ID3FID_BPM), ID3FN_TEXT, t->bpm, sizeof t->bpm);
    if (ID3_Frame* f = tag.Find(ID3FID_PLAYCOUNTER)) {
        if (ID3_Field* counter = f->GetField(ID3FN_COUNTER)) {
            t->playCount = (uint32_t)counter->Get();
            t->hasPlayCount = true;
        }
    }
}

void TextOrNotSet(char* dst, size_t width, const char* text) { CopyText(dst, width, *text ? text : kNotSet); }

void ReadTagFields(TrackInfo* info)
{
    char path[261];
    FieldText(path, sizeof path, info->path, sizeof info->path);
    ID3_Tag tag;
    // The library asks for and moves the file position at every frame and
    // field: read it through a window instead of its own file stream.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart < 0xFFFFFFFF) {
        TagWindow window(ReadAtHandle, file, size.QuadPart);
        TagWindowReader reader(&window);
        tag.Link(reader, ID3TT_ALL);
    } else if (file != INVALID_HANDLE_VALUE) {
        tag.Link(path, ID3TT_ALL);  // beyond the library's 32-bit positions
    }
    TagTexts t{};
    TextsFromTag(tag, &t);
    // An ID3v2.4 tag, which the library skips, stands before an ID3v1 tag.
    TagTexts v24{};
    bool haveV24 = file != INVALID_HANDLE_VALUE && ReadId3v24Texts(file, &v24);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (haveV24) {
        const struct {
            char* to;
            const char* from;
            size_t width;
        } merge[] = {{t.artist, v24.artist, sizeof t.artist}, {t.album, v24.album, sizeof t.album},
                     {t.title, v24.title, sizeof t.title},    {t.year, v24.year, sizeof t.year},
                     {t.comment, v24.comment, sizeof t.comment}, {t.track, v24.track, sizeof t.track},
                     {t.genre, v24.genre, sizeof t.genre},    {t.bpm, v24.bpm, sizeof t.bpm}};
        for (const auto& m : merge)
            if (m.from[0]) memcpy(m.to, m.from, m.width);
        if (v24.hasPlayCount) t.playCount = v24.playCount, t.hasPlayCount = true;
    }

    info->albumRepeatAfter = info->artistRepeatAfter = info->genreRepeatAfter = info->repeatEvery = -1;
    TextOrNotSet(info->author, sizeof info->author, t.artist);
    TextOrNotSet(info->album, sizeof info->album, t.album);
    TextOrNotSet(info->title, sizeof info->title, t.title);
    if (t.year[0]) CopyText(info->year, sizeof info->year, t.year);
    if (t.comment[0]) CopyText(info->description, sizeof info->description, t.comment);
    info->track = atoi(t.track);
    GenreFromContentType(t.genre, info->genre);
    if (t.hasPlayCount) info->playCount = (int32_t)t.playCount;
    CopyText(info->rating, sizeof info->rating, kNotSet);
    if (tag.Find(ID3FID_BPM) || v24.bpm[0]) info->bpm = atof(t.bpm);
}

void WriteTagFields(const char* path, const TrackInfo* in)
{
    char text[256];
    ID3_Tag tag;
    tag.Link(path, ID3TT_ALL);
    ID3_RemoveArtists(&tag);
    FieldText(text, sizeof text, in->author, sizeof in->author);
    if (!IsNotSet(text) && *text) ID3_AddArtist(&tag, text);
    ID3_RemoveAlbums(&tag);
    FieldText(text, sizeof text, in->album, sizeof in->album);
    if (!IsNotSet(text) && *text) ID3_AddAlbum(&tag, text);
    ID3_RemoveTitles(&tag);
    FieldText(text, sizeof text, in->title, sizeof in->title);
    if (!IsNotSet(text) && *text) ID3_AddTitle(&tag, text);
    ID3_RemoveYears(&tag);
    FieldText(text, sizeof text, in->year, sizeof in->year);
    if (*text) ID3_AddYear(&tag, text);
    ID3_RemoveComments(&tag);
    FieldText(text, sizeof text, in->description, sizeof in->description);
    if (*text) ID3_AddComment(&tag, text, "", "XXX");
    ID3_RemoveTracks(&tag);
    if (in->track > 0 && in->track < 256) ID3_AddTrack(&tag, (uchar)in->track);
    ID3_RemoveGenres(&tag);
    FieldText(text, sizeof text, in->genre, sizeof in->genre);
    if (!IsNotSet(text) && *text) ID3_AddGenre(&tag, text);
    tag.Update(ID3TT_ALL);
    tag.Clear();  // closes the library's handle on the file
}

}  // namespace

// id3lib reports some failures by throwing (std::bad_alloc and others):
// nothing it throws leaves this module. A tag that cannot be read gives what
// a file without tags gives, and the caller fails.
bool ReadId3Tags(TrackInfo* info)
{
    TrackInfo read = *info;
    try {
        ReadTagFields(&read);
    } catch (...) {
        info->albumRepeatAfter = info->artistRepeatAfter = info->genreRepeatAfter = info->repeatEvery = -1;
        CopyText(info->author, sizeof info->author, kNotSet);
        CopyText(info->album, sizeof info->album, kNotSet);
        CopyText(info->title, sizeof info->title, kNotSet);
        CopyText(info->genre, sizeof info->genre, kNotSet);
        CopyText(info->rating, sizeof info->rating, kNotSet);
        info->track = 0;
        return false;
    }
    *info = read;
    return true;
}

bool FileTimeUtc(const char* path, TrackFileTime* out)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data) && TrackFileTimeFrom(data.ftLastWriteTime, out);
}

int __cdecl Mpeg_GetTag(TrackInfo* info, void* handle)
{
    auto* inst = static_cast<MpegInstance*>(handle);
    if (!inst || !info) return 0;
    TrackFileTime ft;
    if (!FileTimeUtc(inst->path, &ft)) return 0;
    CopyText(info->path, 255, inst->path);
    strcpy(info->format, "MPEG");
    info->sampleRate = inst->decodedFormat.sampleRate;
    info->channels = inst->decodedFormat.channels;
    info->bits = 32;
    info->bitrate = inst->bitrate;
    info->duration = inst->duration;
    info->size = (uint64_t)inst->audioBytes;
    info->fileTime = ft;
    return ReadId3Tags(info) ? 1 : 0;
}

int __cdecl Mpeg_GetTagEx(TrackInfo* info)
{
    if (!info) return 0;
    char path[261];
    FieldText(path, sizeof path, info->path, sizeof info->path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    MpegProbe probe;
    bool ok = ProbeMpegFile(file, &probe);
    CloseHandle(file);
    TrackFileTime ft;
    if (!ok) return 0;
    if (!FileTimeUtc(path, &ft)) return 0;
    strcpy(info->format, "MPEG");
    info->sampleRate = (int32_t)probe.header.samplerate;
    info->channels = probe.header.mode == MAD_MODE_SINGLE_CHANNEL ? 1 : 2;
    info->bits = 32;
    info->bitrate = probe.bitrate;
    info->duration = probe.duration;
    info->size = (uint64_t)probe.audioBytes;
    info->fileTime = ft;
    return ReadId3Tags(info) ? 1 : 0;
}

int __cdecl Mpeg_SetTagEx(const TrackInfo* in)
{
    if (!in) return 0;
    char path[261];
    FieldText(path, sizeof path, in->path, sizeof in->path);
    // The rewrite replaces the file: refuse while anyone else has it open,
    // rather than leave a half-written copy behind.
    HANDLE probe = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
    if (probe == INVALID_HANDLE_VALUE) return 0;  // cannot be opened for writing
    // The library writes version 2.3 and cannot parse a later tag: it would
    // drop that tag's frames (and leave a 2.4 footer in front of the audio).
    // Refuse, and leave the file as it is.
    unsigned char h[4];
    DWORD got = 0;
    bool later = ReadFile(probe, h, 4, &got, nullptr) && got == 4 && memcmp(h, "ID3", 3) == 0 && h[3] > 3;
    CloseHandle(probe);
    if (later) return 0;

    bool thrown = false;
    try {
        WriteTagFields(path, in);
    } catch (...) {
        thrown = true;
    }

    // The library rewrites a growing tag through "<path>.XXXXXX"; if that is
    // still there the rewrite did not complete.
    char temp[300];
    snprintf(temp, sizeof temp, "%s.XXXXXX", path);
    if (thrown) {
        DeleteFileA(temp);
        return 0;
    }
    if (GetFileAttributesA(temp) != INVALID_FILE_ATTRIBUTES) {
        DeleteFileA(temp);
        return 0;  // the tag rewrite did not complete
    }
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 0;  // gone after the tag rewrite
    return 1;
}
