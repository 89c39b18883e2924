#include "spoolFile.h"

#include <wx/filename.h>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

SpoolFile::~SpoolFile() {
    Unmap();
    if (m_fd >= 0)
        _close(m_fd);
}

void SpoolFile::Unmap() {
    if (m_map)
        UnmapViewOfFile(m_map);
    m_map = nullptr;
}

bool SpoolFile::Create(wxString& error) {
    Unmap();
    if (m_fd >= 0)
        _close(m_fd);
    m_fd = -1;
    m_size = 0;
    // Windows removes the file when its last handle closes, also when the program dies;
    // "temporary" keeps it in the cache rather than on the disk where memory allows.
    const wxString name = wxFileName::CreateTempFileName(wxFileName::GetTempDir() + "\\quorvane");
    HANDLE file =
        name.empty()
            ? INVALID_HANDLE_VALUE
            : CreateFileW(name.wc_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        m_fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
        if (m_fd < 0)
            CloseHandle(file);
    }
    if (m_fd < 0) {
        if (!name.empty())
            DeleteFileW(name.wc_str());
        error = "Error Creating a Temporary File";
        return false;
    }
    return true;
}

bool SpoolFile::Append(const char* data, size_t size) {
    if (m_fd < 0 || m_map)
        return false;
    while (size > 0) {
        const unsigned chunk = size > (1u << 30) ? (1u << 30) : unsigned(size);
        const int n = _write(m_fd, data, chunk);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
        m_size += size_t(n);
    }
    return true;
}

const char* SpoolFile::Map() {
    if (!m_map && m_fd >= 0 && m_size > 0) {
        HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(m_fd));
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping) {
            // The view keeps the mapping alive; its handle is not needed any more.
            m_map = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, m_size));
            CloseHandle(mapping);
        }
    }
    return m_map;
}

void SpoolFile::Release() {
    // Unlocking pages that are not locked takes them out of the working set; they are read
    // from the file again when touched.
    if (m_map)
        VirtualUnlock(m_map, m_size);
}
