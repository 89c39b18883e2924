#include "updater.h"

#include "files.h"
#include "httpSession.h"

#include <wx/filename.h>
#include <wx/stdpaths.h>

#include <openssl/err.h>
#include <openssl/evp.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

wxDEFINE_EVENT(wxEVT_UPDATER_STATUS, wxThreadEvent);

namespace {

// The public half of the release signing key. The private half never enters the repository;
// the README says how the maintainers make, keep and use it.
const unsigned char kReleasePublicKey[32] = {
    0x82, 0xb5, 0x53, 0x17, 0x43, 0x0b, 0x48, 0x3b, 0x15, 0x67, 0xce, 0x50, 0x97, 0x78, 0xe0, 0xc1,
    0x66, 0x83, 0x6d, 0x3d, 0xde, 0xb3, 0xe3, 0x7e, 0x5b, 0xcf, 0x1e, 0xc9, 0x98, 0xcc, 0x35, 0x19,
};

constexpr size_t kPublicKeySize = 32;
constexpr size_t kSignatureSize = 64;

// Both are read and written on the GUI thread only; an updater copies them when it is made.
wxString& programPathOverride() {
    static wxString path;
    return path;
}
std::string& publicKeyOverride() {
    static std::string key;
    return key;
}

bool readStream(wxInputStream& in, std::string* out) {
    char buffer[64 * 1024];
    for (;;) {
        in.Read(buffer, sizeof buffer);
        const size_t n = in.LastRead();
        out->append(buffer, n);
        if (n == 0 || !in.IsOk())
            break;
    }
    return in.GetLastError() == wxSTREAM_NO_ERROR || in.GetLastError() == wxSTREAM_EOF;
}

bool readFileBytes(const wxString& path, std::string* out) {
    FILE* f = platform::OpenForReading(path);
    if (!f)
        return false;
    char buffer[64 * 1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        out->append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One GET on the maker's host that must answer 200: an error page is neither a program
// nor a signature.
bool fetch(httpSession& session, const wxString& path, size_t maxBytes, std::string* body,
           wxString* error) {
    session.SetMaxBodyBytes(maxBytes);
    std::unique_ptr<wxInputStream> reply(session.Request(path));
    if (!reply || !session.m_ok) {
        *error = session.GetError();
        return false;
    }
    if (session.m_status != 200) {
        error->Printf("%s answered %u", path, unsigned(session.m_status));
        return false;
    }
    if (!readStream(*reply, body)) {
        *error = "Error reading " + path;
        return false;
    }
    return true;
}

} // namespace

updater::updater(bool download, wxEvtHandler* target, const ConnectionSettingsRecord& connection)
    : wxThread(wxTHREAD_JOINABLE), m_currentVersion(QV_VERSION_MINOR), m_latestVersion(-1),
      m_download(download), m_frame(target), m_programPath(UpdaterProgramPath()),
      m_publicKey(UpdaterPublicKey()), m_connection(connection) {}

void updater::Post(int status, const wxString& text) {
    wxThreadEvent event(wxEVT_UPDATER_STATUS, 0);
    event.SetInt(status);
    event.SetString(text);
    wxQueueEvent(m_frame, event.Clone());
}

wxThread::ExitCode updater::Entry() {
    if (m_latestVersion == -1)
        m_latestVersion = CheckLatestVersion();
    if (TestDestroy())
        return 0;
    if (m_latestVersion == -1) {
        Post(UPDATE_ERROR);
        return 0;
    }
    if (m_currentVersion >= m_latestVersion) {
        Post(UPDATE_CURRENT);
        return 0;
    }
    if (TestDestroy())
        return 0;
    if (m_download)
        DownloadVersion(m_latestVersion);
    else
        Post(UPDATE_AVAILABLE);
    return 0;
}

int updater::CheckLatestVersion() {
    httpSession session(m_connection);
    if (!session.m_ok) {
        m_error = session.GetError();
        return -1;
    }
    session.SetAbortCheck([this] { return TestDestroy(); });
    if (!session.Connect(kUpdateHost)) {
        m_error = session.GetError();
        return -1;
    }
    // An error page is no answer: reading it as version 0 would call the check a success.
    std::string text;
    if (!fetch(session, "/latest.html", kMaxVersionAnswer, &text, &m_error))
        return -1;
    return ParseLatestVersion(text);
}

bool updater::DownloadVersion(int version) {
    if (version <= 0) {
        m_error = "No version to download";
        Post(UPDATE_ERROR);
        return false;
    }
    const wxString target = UpdateTargetPath(m_programPath, static_cast<unsigned>(version));
    if (target.empty()) {
        m_error = "The program's folder is unknown";
        Post(UPDATE_ERROR);
        return false;
    }

    httpSession session(m_connection);
    if (!session.m_ok || !session.Connect(kUpdateHost)) {
        m_error = session.GetError();
        Post(UPDATE_ERROR);
        return false;
    }
    session.SetAbortCheck([this] { return TestDestroy(); });

    std::string program, signature;
    if (!fetch(session, "/download.html", kMaxProgramAnswer, &program, &m_error) ||
        !fetch(session, "/download.sig", kMaxVersionAnswer, &signature, &m_error)) {
        if (TestDestroy())
            return false;
        Post(UPDATE_ERROR);
        return false;
    }
    if (TestDestroy())
        return false;
    if (!InstallProgramFile(target, program, signature, m_publicKey, &m_error)) {
        Post(UPDATE_ERROR);
        return false;
    }
    Post(UPDATE_DOWNLOADED, target);
    return true;
}

wxString UpdaterProgramPath() {
    if (!programPathOverride().empty())
        return programPathOverride();
    return wxStandardPaths::Get().GetExecutablePath();
}

void SetUpdaterProgramPath(const wxString& path) {
    programPathOverride() = path;
}

std::string UpdaterPublicKey() {
    if (!publicKeyOverride().empty())
        return publicKeyOverride();
    return std::string(reinterpret_cast<const char*>(kReleasePublicKey), kPublicKeySize);
}

void SetUpdaterPublicKey(const std::string& raw) {
    publicKeyOverride() = raw;
}

wxString UpdateFileName(unsigned version) {
    return wxString::Format("Quorvane-2.%02u", version) + platform::kProgramSuffix;
}

wxString UpdateTargetPath(const wxString& programPath, unsigned version) {
    const wxString folder = wxFileName(programPath).GetPath();
    if (folder.empty())
        return wxEmptyString;
    return folder + wxFileName::GetPathSeparator() + UpdateFileName(version);
}

int ParseLatestVersion(const std::string& reply) {
    size_t i = 0;
    while (i < reply.size() &&
           (reply[i] == ' ' || reply[i] == '\t' || reply[i] == '\r' || reply[i] == '\n'))
        ++i;
    long long value = 0;
    for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        value = value * 10 + (reply[i] - '0');
        if (value > INT_MAX)
            value = INT_MAX;
    }
    return static_cast<int>(value);
}

bool VerifyEd25519(const std::string& data, const std::string& signature,
                   const std::string& publicKey, wxString* error) {
    wxString why;
    bool ok = false;
    EVP_PKEY* key = nullptr;
    EVP_MD_CTX* ctx = nullptr;
    if (publicKey.size() != kPublicKeySize) {
        why = "No trusted public key";
    } else if (signature.size() != kSignatureSize) {
        why = "The signature is malformed";
    } else if (!(key = EVP_PKEY_new_raw_public_key(
                     EVP_PKEY_ED25519, nullptr,
                     reinterpret_cast<const unsigned char*>(publicKey.data()), publicKey.size()))) {
        why = "The trusted public key is unusable";
    } else if (!(ctx = EVP_MD_CTX_new()) ||
               EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, key) != 1) {
        why = "Cannot check signatures";
    } else if (EVP_DigestVerify(
                   ctx, reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                   reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        why = "The signature does not match";
    } else {
        ok = true;
    }
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    // Failed checks leave entries in this thread's error queue; they mean nothing later.
    ERR_clear_error();
    if (!ok && error)
        *error = why;
    return ok;
}

bool InstallProgramFile(const wxString& target, const std::string& data,
                        const std::string& signature, const std::string& publicKey,
                        wxString* error) {
    wxString why;
    // Nothing unsigned touches the disk.
    if (!VerifyEd25519(data, signature, publicKey, &why)) {
        if (error)
            *error = why;
        return false;
    }
    const wxFileName dest(target);
    wxString temp;
    const int fd = platform::CreateTempBeside(target, &temp);
    if (fd < 0) {
        if (error)
            *error = "Cannot write into " + dest.GetPath() + ": " + std::strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, data) && platform::SyncFile(fd) && platform::MakeExecutable(fd);
    if (::close(fd) != 0)
        ok = false;
    if (!ok)
        why = "Error writing " + temp + ": " + std::strerror(errno);

    // Check what actually reached the disk before it gets the name that may be started.
    if (ok) {
        std::string written;
        if (!readFileBytes(temp, &written) || written.size() != data.size()) {
            why = "The written program file is incomplete";
            ok = false;
        } else if (!VerifyEd25519(written, signature, publicKey, &why)) {
            ok = false;
        }
    }
    if (ok && !platform::RenameOver(temp, target)) {
        why = "Cannot rename the program file to " + target + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        platform::RemoveFile(temp);
        if (error)
            *error = why;
    }
    return ok;
}
