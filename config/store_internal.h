// Helpers of the INI settings store shared by the store and the settings dialog.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "setting_record.h"

namespace pylcfg {

// Path of the module's INI file (the module's file with the extension "ini").
void IniPathOf(HINSTANCE module, char out[1024]);
// Decimal integer: leading white space, optional sign, digits; saturates at the 32-bit range.
int32_t ParseInt(const char* text);
// Decimal floating-point number; no "nan"/"inf"/hex; saturates at the double range.
double ParseDouble(const char* text);
float SaturateFloat(double v);
// Text form of a value as the file stores it; false when it has none (non-finite, unknown type).
bool FormatValue(int32_t type, const unsigned char* field, char out[1024]);
// How many list values the limits field holds for a type.
int ListCapacity(int32_t type);

}  // namespace pylcfg
