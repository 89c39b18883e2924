// A file without a name for a large answer: written as it arrives, then read through a
// mapping whose pages can be let go again, so that a document of 300 pages takes no more
// memory than one of 12. The file disappears with the object, also when the program dies.
#pragma once

#include <wx/string.h>

#include <cstddef>

class SpoolFile {
public:
    SpoolFile() = default;
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // Makes the file in the system's temporary folder (empty again if it was in use).
    bool Create(wxString& error);
    bool Append(const char* data, size_t size);
    size_t Size() const { return m_size; }
    // The whole file, read-only; null when it cannot be mapped or is empty.
    const char* Map();
    // Lets the kernel take back the mapped pages read so far; they are read again when needed.
    void Release();

private:
    void Unmap();
    int m_fd = -1;
    size_t m_size = 0;
    char* m_map = nullptr;
};
