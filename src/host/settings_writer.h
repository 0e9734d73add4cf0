// The one writer of the driver's settings file (Quorvex.ini): reads it as the
// driver reads it, changes only the keys it is given in one camera's section,
// and replaces the file whole under a lock that every writer through the host
// library takes, in this process and in others.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace host {

struct SettingsChange {
    std::optional<std::string> share;
    std::optional<int32_t> logLevel;
    std::optional<int32_t> connectionTimeoutMs;
};

// The settings file of a system folder, named as the driver names it.
std::string SettingsFilePath(const std::string& folder);

// Checks `change` (a share name the driver would not read back as written is
// refused; numbers are brought into their ranges as the driver brings them)
// and writes it into `section`. False with `error` saying why, the file then
// unchanged.
bool WriteSettings(const std::string& path, const std::string& section, SettingsChange change, std::string& error);

// The camera's share name as the driver reads it at an open: the file's value
// or the default.
std::string ReadShareName(const std::string& path, const std::string& section);

}  // namespace host
