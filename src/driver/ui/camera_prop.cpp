#include "ui/camera_prop.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "settings_rules/settings_rules.h"
#include "ui/resource.h"

namespace {

constexpr int kIdOk = 1;
constexpr size_t kStatusCapacity = 255;

}  // namespace

int32_t ParseLogLevel(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    int64_t magnitude = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit;
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

CCameraProp::CCameraProp(std::string caption_, CameraSettings* settings_)
    : caption(std::move(caption_)), settings(settings_) {}

void CCameraProp::DoDataExchange(DialogControls& controls, bool saveAndValidate) {
    transferring = true;
    if (saveAndValidate) {
        settings->PipeName.value = controls.GetText(IDC_SHARE_NAME);
        settings->LogLevel.value = ParseLogLevel(controls.GetText(IDC_LOG_LEVEL));
        settings->LogIntoFile.value = controls.IsChecked(IDC_LOG_INTO_FILE) ? 1 : 0;
    } else {
        controls.SetText(IDC_SHARE_NAME, settings->PipeName.value);
        controls.SetText(IDC_LOG_LEVEL, std::to_string(settings->LogLevel.value));
        controls.SetChecked(IDC_LOG_INTO_FILE, settings->LogIntoFile.value == 1);
    }
    transferring = false;
}

void CCameraProp::ValidateInput(DialogControls& controls) {
    DoDataExchange(controls, true);
    char range[64];
    std::snprintf(range, sizeof range, "[%d ... %d]", settings->LogLevel.minValue, settings->LogLevel.maxValue);
    controls.SetText(IDC_LOG_LEVEL_RANGE, range);

    bool valid = true;
    const Param<int32_t>& logLevel = settings->LogLevel;
    if (logLevel.value < logLevel.minValue || logLevel.value > logLevel.maxValue) {
        ShowStatus(controls, "Log level not in range");
        valid = false;
    }
    if (settings->PipeName.value.empty()) {
        ShowStatus(controls, "Please provide Share Name");
        valid = false;
    } else if (const std::string refusal = settings_rules::ShareNameRefusal(settings->PipeName.value);
               !refusal.empty()) {
        // A name the driver would read back as another: refused with the words
        // every host shows, whole, for they end in the reason.
        controls.SetStatusText(refusal.c_str());
        valid = false;
    }
    controls.Enable(kIdOk, valid);
    if (valid) {
        controls.SetStatusText("");
    }
}

void CCameraProp::ShowStatus(DialogControls& controls, const char* format, ...) {
    char text[kStatusCapacity];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    controls.SetStatusText(text);
}
