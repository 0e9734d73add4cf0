// A folder of its own for one test, removed with everything in it when the
// test ends. Tests name files by full path inside it: on Windows a bare file
// name would go to the Windows folder.
#pragma once

#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // The full path of `name` inside the folder.
    std::string File(const std::string& name) const;

    bool Exists(const std::string& name) const;
    // The file's bytes exactly as stored, line ends untranslated; empty for a
    // missing file.
    std::string Read(const std::string& name) const;
    void Write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

}  // namespace testsupport
