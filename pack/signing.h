// The code-signing key, read once: the PKCS#12 file and the first line of
// the pass file are each read a single time (either may be a pipe), opened
// with libcrypto, and the certificate chain checked before any work is done.
// osslsigncode then gets the key through a private copy in the run's
// working folder.
#ifndef ROMGATE_PACK_SIGNING_H
#define ROMGATE_PACK_SIGNING_H

#include <stdint.h>

#include <memory>
#include <string>

// The largest --ca-file read: a system's whole bundle of roots fits.
const uint64_t kcbCaFileMax = 16u << 20;

class SigningKey {
public:
    SigningKey();
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    // Opens the PKCS#12 bytes with the password: the first line of passText,
    // without its line end (LF or CRLF).
    bool Open(const std::string& pkcs12, const std::string& passText, std::string* pWhy);
    // Checks that the key's certificate chains, through the certificates in
    // the key file, to a root among them or in the PEM text caPem ("" for
    // none). The why says what breaks the chain.
    bool CheckChain(const std::string& caPem, std::string* pWhy);
    // The key and its certificates as a PKCS#12 file with an empty password,
    // written as path with mode 0600, for osslsigncode.
    bool WritePrivateCopy(const std::string& path, std::string* pWhy) const;
    // The certificates to verify the signature against, as PEM: those of
    // the key file and those of caPem.
    bool WriteTrusted(const std::string& path, std::string* pWhy) const;

private:
    struct Parts;
    std::unique_ptr<Parts> m_pParts;
    std::string m_caPem;
};

#endif  // ROMGATE_PACK_SIGNING_H
