// Read commands, read procedures and read-method detection.
#pragma once
#include "cd_layer.h"

// Sends one SCSI command to the drive at that address and waits for it:
// CD_OK when the request ended with status done.
int CdExecute(int adapter, int target, int lun, const uint8_t* cdb, int cdbLength, uint8_t flags, void* data,
              uint32_t length);
// The slot's read procedure (fixed method or detection); the caller holds the drive mutex.
int RunReadProcedure(int handle, DriveSlot* slot, ReadRequest* request);
// Release procedure of methods 3, 4 and 8: back to 2048-byte blocks.
int RestoreBlockSize(int handle, DriveSlot* slot);
