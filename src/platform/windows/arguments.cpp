// Apart from the rest of the console, so that only programs that read their
// arguments this way import shell32.
#include <memory>

#include "platform/console.h"
#include "platform/system_text.h"
#include "platform/win32.h"

#include <shellapi.h>

namespace platform {
namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const noexcept { LocalFree(block); }
};

std::string ToUtf8(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back();  // the terminator
    return text;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> arguments;
    if (wide != nullptr && count == argc) {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(ToUtf8(wide.get()[i]));
        }
        return arguments;
    }
    // A command line the C runtime split otherwise: its own arguments, as
    // well as they convert.
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(SystemTextToUtf8(argv[i]));
    }
    return arguments;
}

}  // namespace platform
