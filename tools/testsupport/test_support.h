// Small helpers for the tests that run under Wine.
#pragma once
#include <string>
#include <vector>

namespace vqtest {

// Windows path of a folder given to the test by ctest as a Unix path in the
// environment (Wine maps / as Z:).
std::string WinPathFromEnv(const char* var);
// bin/ of the build (shared libraries, tests) and bin/modules (plug-ins).
std::string BinDir();
std::string ModulesDir();
// build/testdata, filled by the data-generating fixture scripts.
std::string TestDataDir();
// A fresh empty folder under the system's temp folder, unique per call.
std::string MakeTempDir(const char* tag);
void RemoveTree(const std::string& dir);
bool ReadFile(const std::string& path, std::vector<unsigned char>& out);
bool WriteFile(const std::string& path, const void* data, size_t size);
bool FileExists(const std::string& path);
std::string ReadText(const std::string& path);
// Copies a file from bin/ or bin/modules into dir; returns the new path.
std::string CopyInto(const std::string& src, const std::string& dir);

}  // namespace vqtest
