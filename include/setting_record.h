// One setting's description and value, as stored in INI files and passed
// between the host, the plug-ins and the settings dialog (fixed 4432 bytes).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum class SettingType : int32_t { Text = 0, Int16 = 1, Int32 = 2, Float = 3, Double = 4, Quad = 5 };
enum class EditorKind : int32_t { Edit = 0, CheckBox = 1, DropList = 3, Slider = 5, Spin = 6, ModuleSelector = 9 };
// Positive values are a list of that many entries; 0 and below -3 are Fixed.
enum class ConstraintMode : int32_t { Range = -3, MaxOnly = -2, MinOnly = -1, Fixed = 0 };

struct SettingRecord {
    char name[32];
    char description[256];
    char unit[16];
    int32_t type;            // SettingType code; other codes are skipped by the store
    int32_t padding;
    double step;
    int32_t editor;          // EditorKind code
    int32_t constraint;      // ConstraintMode, or n > 0 for a list of n values
    unsigned char limits[1024];
    char labels[1024];       // TAB-separated
    unsigned char defaultValue[1024];
    unsigned char currentValue[1024];
    unsigned char reserved[8];
};

static_assert(sizeof(SettingRecord) == 4432, "SettingRecord size");
static_assert(offsetof(SettingRecord, description) == 32, "");
static_assert(offsetof(SettingRecord, unit) == 288, "");
static_assert(offsetof(SettingRecord, type) == 304, "");
static_assert(offsetof(SettingRecord, step) == 312, "");
static_assert(offsetof(SettingRecord, editor) == 320, "");
static_assert(offsetof(SettingRecord, constraint) == 324, "");
static_assert(offsetof(SettingRecord, limits) == 328, "");
static_assert(offsetof(SettingRecord, labels) == 1352, "");
static_assert(offsetof(SettingRecord, defaultValue) == 2376, "");
static_assert(offsetof(SettingRecord, currentValue) == 3400, "");
static_assert(offsetof(SettingRecord, reserved) == 4424, "");

// Width in bytes of one value of a numeric type (Text limits are single characters).
inline int SettingValueWidth(int32_t type)
{
    switch (static_cast<SettingType>(type)) {
    case SettingType::Text: return 1;
    case SettingType::Int16: return 2;
    case SettingType::Int32: return 4;
    case SettingType::Float: return 4;
    case SettingType::Double: return 8;
    case SettingType::Quad: return 16;
    }
    return 0;
}

// Unaligned-safe access to values stored in the record's byte fields.
template <typename T> inline T SettingLoad(const unsigned char* field, int index = 0)
{
    T v;
    memcpy(&v, field + index * sizeof(T), sizeof(T));
    return v;
}
template <typename T> inline void SettingStore(unsigned char* field, T v, int index = 0)
{
    memcpy(field + index * sizeof(T), &v, sizeof(T));
}

// Numeric value of a record field widened to double (Text reads as 0).
inline double SettingAsDouble(int32_t type, const unsigned char* field, int index = 0)
{
    switch (static_cast<SettingType>(type)) {
    case SettingType::Int16: return SettingLoad<int16_t>(field, index);
    case SettingType::Int32: return SettingLoad<int32_t>(field, index);
    case SettingType::Float: return SettingLoad<float>(field, index);
    case SettingType::Double: return SettingLoad<double>(field, index);
    default: return 0.0;
    }
}
