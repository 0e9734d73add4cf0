// A camera's settings, their ranges and defaults, and their home in the
// settings file (one INI section per camera in the host's system directory).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "settings_rules/settings_rules.h"

struct DriverState;

// One typed setting with its file key and range. It checks nothing itself:
// whoever uses the range checks it.
template <typename T>
class Param {
public:
    Param(std::string key_, T value_, T maxValue_, T minValue_)
        : key(std::move(key_)), value(value_), maxValue(maxValue_), minValue(minValue_), defaultValue(value_) {}
    // A setting without a range (a text): all four values are the one given.
    Param(std::string key_, T value_) : Param(std::move(key_), value_, value_, value_) {}
    Param(const Param&) = default;
    Param& operator=(const Param&) = default;
    virtual ~Param() = default;

    // Writes "key=value\n".
    virtual std::ostream& Print(std::ostream& stream) const { return stream << key << "=" << value << "\n"; }

    std::string key;
    T value;
    T maxValue;
    T minValue;
    T defaultValue;
};

struct CameraSettings {
    Param<std::string> PipeName{settings_rules::kPipeNameKey, settings_rules::kDefaultPipeName};
    Param<int32_t> ConnectionTimeout{
        Ranged(settings_rules::kConnectionTimeoutKey, settings_rules::kConnectionTimeoutMs)};
    Param<int32_t> LogLevel{Ranged(settings_rules::kLogLevelKey, settings_rules::kLogLevel)};
    // Held in memory only: never read from or written to the file.
    Param<int32_t> LogIntoFile{Ranged(settings_rules::kLogIntoFileKey, settings_rules::kLogIntoFile)};

private:
    static Param<int32_t> Ranged(const char* key, const settings_rules::IntRange& range) {
        return Param<int32_t>(key, range.defaultValue, range.maxValue, range.minValue);
    }
};

// The settings file's full name for the system directory of `state`.
std::string GetIniPath(DriverState* state);

// Reads or writes one section of one INI file, one parameter at a time.
class IniSection {
public:
    IniSection(std::string fileName_, std::string section_)
        : fileName(std::move(fileName_)), section(std::move(section_)) {}

    void Exchange(Param<int32_t>& param);
    void Exchange(Param<std::string>& param);

    std::string fileName;
    std::string section;
    bool loading = true;
};

// Loads (save false) or saves (save true) PipeName, LogLevel and
// ConnectionTimeout in the named section of the settings file. False, and
// nothing done, for a null section.
bool SerializeSettings(const char* section, CameraSettings& settings, bool save);
