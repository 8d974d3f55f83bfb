// WNASPI32.DLL for the tests: an ASPI manager with the drives of a disc
// model (VQ_FAKE_CD_MODEL, commands logged to VQ_FAKE_CD_LOG). Loaded in
// place of Wine's own with WINEDLLOVERRIDES=wnaspi32=n.
#include <windows.h>

#include <string.h>

#include "aspi_defs.h"
#include "disc_model.h"

namespace {

DiscModel* g_model = nullptr;
bool g_loaded = false;
// A command left pending, and whether it was aborted: the manager writes into
// it late, after the next command of the same kind, as a slow drive would.
SrbExec* g_hung = nullptr;
uint8_t g_hungOpcode = 0;
bool g_hungAborted = false;

std::string Env(const char* name)
{
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

DiscModel* Model()
{
    if (!g_loaded) {
        g_loaded = true;
        g_model = new DiscModel;
        if (!g_model->Load(Env("VQ_FAKE_CD_MODEL"), Env("VQ_FAKE_CD_LOG"))) {
            delete g_model;
            g_model = nullptr;
        }
    }
    return g_model;
}

int AdapterCount(DiscModel* m) { return m && !m->noAdapters ? (m->drives + 7) / 8 : 0; }

bool HasDrive(DiscModel* m, int adapter, int target, int lun)
{
    return m && lun == 0 && adapter * 8 + target < m->drives && target < 8;
}

void LateWrite(uint8_t opcode)
{
    if (!g_hung || !g_hungAborted || opcode != g_hungOpcode) return;
    if (g_hung->buffer) memset(g_hung->buffer, 0x5A, g_hung->bufferLength);
    g_hung->h.status = SS_ABORTED;
    g_hung = nullptr;
}

}  // namespace

extern "C" DWORD __cdecl GetASPI32SupportInfo(void)
{
    int n = AdapterCount(Model());
    return n ? (SS_COMP << 8) | n : SS_NO_ADAPTERS << 8;
}

extern "C" DWORD __cdecl SendASPI32Command(void* p)
{
    DiscModel* m = Model();
    auto* h = static_cast<SrbHeader*>(p);
    if (!h) return SS_ERR;
    switch (h->command) {
    case SC_HA_INQUIRY: {
        auto* srb = static_cast<SrbAdapterInquiry*>(p);
        srb->adapterCount = (uint8_t)AdapterCount(m);
        if (h->adapter >= AdapterCount(m)) return h->status = SS_INVALID_HA;
        srb->adapterScsiId = 7;
        memcpy(srb->managerId, "VQTEST ASPI     ", 16);
        memcpy(srb->adapterId, "Fake adapter    ", 16);
        memset(srb->unique, 0, sizeof srb->unique);  // 0 targets: scanned as 8
        return h->status = SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
        auto* srb = static_cast<SrbDeviceType*>(p);
        if (!HasDrive(m, h->adapter, srb->target, srb->lun)) {
            srb->deviceType = DTYPE_UNKNOWN;
            return h->status = SS_NO_DEVICE;
        }
        srb->deviceType = DTYPE_CDROM;
        return h->status = SS_COMP;
    }
    case SC_EXEC_SCSI_CMD: {
        auto* srb = static_cast<SrbExec*>(p);
        if (!HasDrive(m, h->adapter, srb->target, srb->lun)) return h->status = SS_NO_DEVICE;
        bool out = srb->cdb[0] == 0x15;
        int r = m->Execute(srb->cdb, srb->cdbLength, srb->buffer, srb->bufferLength, out ? srb->buffer : nullptr);
        if (r < 0 && m->timeoutMs >= 0) {
            // The wait for the command ends with the command still pending.
            Sleep((DWORD)m->timeoutMs);
            if (srb->postEvent && (h->flags & SRB_EVENT_NOTIFY)) SetEvent(srb->postEvent);
            return h->status = SS_PENDING;
        }
        if (r < 0) {
            g_hung = srb;
            g_hungOpcode = srb->cdb[0];
            g_hungAborted = false;
            return h->status = SS_PENDING;
        }
        srb->targetStatus = (uint8_t)r;
        h->status = r == 0 ? SS_COMP : SS_ERR;
        DWORD status = h->status;
        if (srb->postEvent && (h->flags & SRB_EVENT_NOTIFY)) SetEvent(srb->postEvent);
        LateWrite(srb->cdb[0]);
        return status;
    }
    case SC_ABORT_SRB: {
        auto* srb = static_cast<SrbAbort*>(p);
        if (srb->srbToAbort == g_hung) g_hungAborted = true;
        return h->status = SS_COMP;
    }
    default: return h->status = SS_ERR;
    }
}

extern "C" DWORD __cdecl GetASPI32DLLVersion(void) { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH) {
        delete g_model;
        g_model = nullptr;
    }
    return TRUE;
}
