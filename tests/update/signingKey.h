// A throw-away Ed25519 key pair made with the openssl command, the same way the maintainers
// make and use the release key, so the tests also prove that procedure fits the program.
#pragma once

#include "testutil.h"

#include <string>

namespace updtest {

class SigningKey {
public:
    SigningKey() {
        const std::string pem = m_dir.file("key.pem");
        const std::string der = m_dir.file("pub.der");
        m_ok = qvtest::runCommand("openssl genpkey -algorithm ed25519 -out '" + pem +
                                  "' 2>/dev/null") == 0 &&
               qvtest::runCommand("openssl pkey -in '" + pem + "' -pubout -outform DER -out '" +
                                  der + "' 2>/dev/null") == 0;
        const std::string spki = qvtest::readFile(der);
        // The raw key is the last 32 bytes of the DER SubjectPublicKeyInfo.
        if (m_ok && spki.size() >= 32)
            m_public = spki.substr(spki.size() - 32);
        m_ok = m_ok && m_public.size() == 32;
    }

    bool ok() const { return m_ok; }
    const std::string& publicKey() const { return m_public; }

    // Detached signature of data (64 raw bytes), or "" on failure.
    std::string sign(const std::string& data) const {
        const std::string in = m_dir.file("data.bin");
        const std::string out = m_dir.file("data.sig");
        if (!qvtest::writeFile(in, data))
            return std::string();
        if (qvtest::runCommand("openssl pkeyutl -sign -rawin -inkey '" + m_dir.file("key.pem") +
                               "' -in '" + in + "' -out '" + out + "' 2>/dev/null") != 0)
            return std::string();
        return qvtest::readFile(out);
    }

private:
    qvtest::TempDir m_dir{"qv-key"};
    std::string m_public;
    bool m_ok = false;
};

// An executable shell script that records its arguments, one per line, into recordFile.
inline std::string recorderProgram(const std::string& recordFile) {
    return "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > '" + recordFile +
           ".part'\nmv '" + recordFile + ".part' '" + recordFile + "'\n";
}

} // namespace updtest
