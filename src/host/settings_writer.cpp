#include "settings_writer.h"

#include "platform/profile_text.h"
#include "platform/whole_file.h"
#include "platform/win32.h"
#include "settings_rules/settings_rules.h"

namespace host {
namespace {

// Beside the settings file: every writer takes it for its whole
// read-change-replace cycle.
std::string LockPath(const std::string& path) {
    return path + ".lock";
}

}  // namespace

std::string SettingsFilePath(const std::string& folder) {
    return folder + platform::kPathSeparator + settings_rules::kFileName;
}

bool WriteSettings(const std::string& path, const std::string& section, SettingsChange change, std::string& error) {
    if (change.share) {
        const std::string refusal = settings_rules::ShareNameRefusal(*change.share);
        if (!refusal.empty()) {
            error = refusal;
            return false;
        }
    }
    if (change.logLevel) {
        change.logLevel = settings_rules::Clamp(*change.logLevel, settings_rules::kLogLevel);
    }
    if (change.connectionTimeoutMs) {
        change.connectionTimeoutMs =
            settings_rules::Clamp(*change.connectionTimeoutMs, settings_rules::kConnectionTimeoutMs);
    }

    platform::FileLock lock;
    if (!lock.Take(LockPath(path), error)) {
        error = "cannot lock the settings file: " + error;
        return false;
    }
    std::string content;
    if (platform::ReadWholeFile(path, content, error) == platform::FileRead::kFailed) {
        error = "cannot read the settings file: " + error;
        return false;
    }
    platform::ProfileText text(content);
    bool changed = false;
    if (change.share) {
        changed = text.SetValue(section, settings_rules::kPipeNameKey, *change.share) || changed;
    }
    if (change.logLevel) {
        changed = text.SetValue(section, settings_rules::kLogLevelKey, std::to_string(*change.logLevel)) || changed;
    }
    if (change.connectionTimeoutMs) {
        changed = text.SetValue(section, settings_rules::kConnectionTimeoutKey,
                                std::to_string(*change.connectionTimeoutMs)) ||
                  changed;
    }
    if (changed && !platform::ReplaceWholeFile(path, text.Serialise(), error)) {
        error = "cannot write the settings file: " + error;
        return false;
    }
    return true;
}

std::string ReadShareName(const std::string& path, const std::string& section) {
    char share[settings_rules::kTextValueCapacity] = {};
    GetPrivateProfileStringA(section.c_str(), settings_rules::kPipeNameKey, settings_rules::kDefaultPipeName, share,
                             sizeof share, path.c_str());
    return share;
}

}  // namespace host
