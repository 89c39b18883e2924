#include "spoolFile.h"

#include <wx/filename.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

SpoolFile::~SpoolFile() {
    Unmap();
    if (m_fd >= 0)
        close(m_fd);
}

void SpoolFile::Unmap() {
    if (m_map)
        munmap(m_map, m_size);
    m_map = nullptr;
}

bool SpoolFile::Create(wxString& error) {
    Unmap();
    if (m_fd >= 0)
        close(m_fd);
    m_size = 0;
    const wxCharBuffer dir = wxFileName::GetTempDir().fn_str();
    m_fd = open(dir.data(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        // A file system without unnamed files: a named one, unlinked at once.
        wxCharBuffer name = (wxFileName::GetTempDir() + "/quorvane-XXXXXX").fn_str();
        m_fd = mkostemp(name.data(), O_CLOEXEC);
        if (m_fd >= 0)
            unlink(name.data());
    }
    if (m_fd < 0) {
        error = "Error Creating a Temporary File";
        return false;
    }
    return true;
}

bool SpoolFile::Append(const char* data, size_t size) {
    if (m_fd < 0 || m_map)
        return false;
    while (size > 0) {
        const ssize_t n = write(m_fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
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
        void* p = mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, m_fd, 0);
        m_map = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    }
    return m_map;
}

void SpoolFile::Release() {
    if (m_map)
        madvise(m_map, m_size, MADV_DONTNEED);
}
