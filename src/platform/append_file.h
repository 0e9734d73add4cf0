// A text file opened for appending, held with exclusive write access while
// the object lives, so that two writers never mix their lines.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace platform {

class AppendFile {
public:
    // Opens or creates the file; IsOpen tells whether that worked (missing
    // directory, no rights, or another writer holding it).
    explicit AppendFile(const std::string& path);

    bool IsOpen() const { return file_ != nullptr; }
    // Writes the text as it stands; in text mode, so a line feed becomes the
    // system's line end. Write failures are not reported.
    void Write(const char* text);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace platform
