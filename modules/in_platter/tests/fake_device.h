// A pass-through CD drive for the tests: the device table of the module
// answered from a disc model (drive letters from the model's "letter" on).
#pragma once
#include <string>

#include "disc_model.h"

namespace fakedev {

// Installs the fake table over the disc model at path; commands are logged
// to logPath. Letters other than the model's go to the system.
bool Install(const std::string& modelPath, const std::string& logPath);
void Uninstall();
// Device opens so far, and handles still open.
int Opens();
int OpenHandles();

}  // namespace fakedev
