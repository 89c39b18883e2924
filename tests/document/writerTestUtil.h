// Shared by the writer's tests: adding TIFF pages from memory, whole documents, a full disk.
#pragma once

#include "pdfWriter.h"

#include <wx/mstream.h>

#include <csignal>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace writertest {

inline bool addPage(pdfWriter& w, const std::string& tiff) {
    wxMemoryInputStream in(tiff.data(), tiff.size());
    return w.AddPage(in);
}

// Writes a whole document; true when every page was taken.
inline bool writePdf(const std::string& path, const std::vector<std::string>& pages) {
    pdfWriter w(path, int(pages.size()));
    bool ok = w.m_ok;
    for (const std::string& p : pages)
        ok = ok && addPage(w, p);
    return ok;
}

// Makes writes past `bytes` fail in this process, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = signal(SIGXFSZ, SIG_IGN);
        rlimit l = m_saved;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved;
    void (*m_handler)(int);
};

} // namespace writertest
