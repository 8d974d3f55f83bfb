#include "fake_modules.h"
#include <string.h>

namespace fakes {

InputState g_input;
EncoderState g_encoder;
DspState g_dsp;

namespace {

std::string FileName(const char* path)
{
    const char* slash = strrchr(path, '\\');
    const char* forward = strrchr(path, '/');
    if (forward > slash)
        slash = forward;
    return slash ? slash + 1 : path;
}

struct Stream {
    Script* script;
    size_t pos;
    std::string name;
};

int __cdecl IsOurFile(const char* path)
{
    size_t n = strlen(path);
    return n > 5 && _stricmp(path + n - 5, ".fake") == 0;
}

void* __cdecl InOpen(const char* path, const StreamFormat*)
{
    g_input.opened.push_back(path);
    auto it = g_input.scripts.find(FileName(path));
    if (it == g_input.scripts.end() || it->second.failOpen)
        return nullptr;
    g_input.openStreams++;
    return new Stream{&it->second, 0, FileName(path)};
}

int __cdecl InRead(char* buf, int bytes, void* h)
{
    Stream* s = (Stream*)h;
    g_input.readRequests.push_back(bytes);
    if (g_input.onRead)
        g_input.onRead((int)g_input.readRequests.size() - 1);
    size_t left = s->script->data.size() - s->pos;
    if (left == 0)
        return s->script->endResult;
    int n = bytes < (int)left ? bytes : (int)left;
    memcpy(buf, s->script->data.data() + s->pos, (size_t)n);
    s->pos += (size_t)n;
    return n + s->script->extraReported;
}

double __cdecl InGetTime(int what, void* h)
{
    Stream* s = (Stream*)h;
    return what == 0 ? (double)s->pos / s->script->format.avgBytesPerSec : -1.0;
}

int __cdecl InGetPcmFormat(StreamFormat* out, void* h)
{
    *out = ((Stream*)h)->script->format;
    return 1;
}

int __cdecl InGetTag(TrackInfo* out, void* h)
{
    out->duration = ((Stream*)h)->script->duration;
    strcpy(out->title, ((Stream*)h)->name.c_str());
    return 1;
}

int __cdecl InGetTagEx(TrackInfo* io)
{
    g_input.tagged.push_back(io->path);
    auto it = g_input.scripts.find(FileName(io->path));
    if (it == g_input.scripts.end())
        return 0;
    io->duration = it->second.duration;
    return 1;
}

int __cdecl InClose(void* h)
{
    g_input.openStreams--;
    delete (Stream*)h;
    return 1;
}

struct EncInstance {
    size_t file;
    int blocks;
};

void* __cdecl EncOpen(const TrackInfo* info, const StreamFormat* fmt, const char* section)
{
    if (g_encoder.failOpen)
        return nullptr;
    g_encoder.openedFor.push_back(info->title);  // the source's file name
    g_encoder.sections.push_back(section ? section : "(null)");
    g_encoder.formats.push_back(*fmt);
    g_encoder.files.emplace_back();
    g_encoder.openInstances++;
    return new EncInstance{g_encoder.files.size() - 1, 0};
}

int __cdecl EncWrite(const char* data, int bytes, void* h)
{
    EncInstance* e = (EncInstance*)h;
    int block = e->blocks++;
    if (g_encoder.onWrite)
        g_encoder.onWrite(block);
    if (block == g_encoder.failWriteAtBlock)
        return -1;
    g_encoder.files[e->file].insert(g_encoder.files[e->file].end(), data, data + bytes);
    return bytes;
}

int __cdecl EncClose(void* h)
{
    g_encoder.openInstances--;
    g_encoder.closes++;
    delete (EncInstance*)h;
    return g_encoder.closeResult;
}

struct DspInstance {
    int id;
    short delayed;
};

template <int Id> void* __cdecl DspOpen(const StreamFormat*, const char* section)
{
    g_dsp.sections.push_back(section);
    if (g_dsp.failOpenAt.count(Id))
        return nullptr;
    g_dsp.openInstances++;
    return new DspInstance{Id, 0};
}

int __cdecl DspProcess(short** in, short** out, int bytes, const StreamFormat*, void* h)
{
    if (!h)
        return -1;
    DspInstance* d = (DspInstance*)h;
    g_dsp.calls.push_back(d->id);
    g_dsp.processBytes.push_back(bytes);
    const unsigned char* src = (const unsigned char*)in[0];
    unsigned char* dst = (unsigned char*)out[0];
    if (d->id == 9) {
        // Stateful: each 16-bit sample comes out one sample later.
        int samples = bytes / 2;
        for (int i = 0; i < samples; i++) {
            short v;
            memcpy(&v, src + 2 * i, 2);
            memcpy(dst + 2 * i, &d->delayed, 2);
            d->delayed = v;
        }
    } else {
        for (int i = 0; i < bytes; i++)
            dst[i] = (unsigned char)(src[i] + d->id);
    }
    auto it = g_dsp.processResult.find(d->id);
    if (it != g_dsp.processResult.end())
        return it->second < 0 ? it->second : bytes + it->second;
    return bytes;
}

int __cdecl DspClose(void* h)
{
    g_dsp.openInstances--;
    delete (DspInstance*)h;
    return 1;
}

IVqProModule g_inputRecord, g_encoderRecord, g_dspRecords[4];

}  // namespace

void Reset()
{
    g_input = InputState();
    g_encoder = EncoderState();
    g_dsp = DspState();
}

IVqProModule* Input()
{
    IVqProModule& m = g_inputRecord;
    m.h.Kind = KindInput;
    m.h.Id = 1;
    m.h.InternalName = m.h.DisplayName = "Fake input";
    m.input.IsOurFile = IsOurFile;
    m.input.Open = InOpen;
    m.input.Read = InRead;
    m.input.GetTime = InGetTime;
    m.input.GetPcmFormat = InGetPcmFormat;
    m.input.GetTag = InGetTag;
    m.input.GetTagEx = InGetTagEx;
    m.input.Close = InClose;
    return &m;
}

IVqProModule* Encoder()
{
    IVqProModule& m = g_encoderRecord;
    m.h.Kind = KindEncoder;
    m.h.Id = 1;
    m.encoder.Open = EncOpen;
    m.encoder.Write = EncWrite;
    m.encoder.Close = EncClose;
    return &m;
}

IVqProModule* Dsp(int id)
{
    int slot = id == 9 ? 0 : id;
    IVqProModule& m = g_dspRecords[slot];
    m.h.Kind = KindDsp;
    m.h.Id = id;
    switch (id) {
    case 1: m.dsp.Open = DspOpen<1>; break;
    case 2: m.dsp.Open = DspOpen<2>; break;
    case 3: m.dsp.Open = DspOpen<3>; break;
    default: m.dsp.Open = DspOpen<9>; break;
    }
    m.dsp.Process = DspProcess;
    m.dsp.Close = DspClose;
    return &m;
}

}  // namespace fakes
