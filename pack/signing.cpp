#include "pack/signing.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "pack/file_io.h"

struct SigningKey::Parts {
    EVP_PKEY* pKey = nullptr;
    X509* pCert = nullptr;
    STACK_OF(X509)* pOthers = nullptr;  // the rest of the chain in the key file
    ~Parts()
    {
        EVP_PKEY_free(pKey);
        X509_free(pCert);
        sk_X509_pop_free(pOthers, X509_free);
    }
};

namespace {

bool Why(std::string* pWhy, const std::string& why)
{
    *pWhy = why;
    return false;
}

std::string LibcryptoReason()
{
    const char* pszReason = ERR_reason_error_string(ERR_peek_last_error());
    ERR_clear_error();
    return pszReason != nullptr ? pszReason : "unknown reason";
}

std::string FirstLine(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

// Adds every certificate of the PEM text to the store; their count.
int AddPemCertificates(const std::string& pem, X509_STORE* pStore)
{
    Bio bio(BIO_new_mem_buf(pem.data(), (int)pem.size()), BIO_free);
    int cCerts = 0;
    while (X509* pCert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        cCerts += X509_STORE_add_cert(pStore, pCert) == 1;
        X509_free(pCert);
    }
    ERR_clear_error();  // the end of the text reads as an error
    return cCerts;
}

}  // namespace

SigningKey::SigningKey() : m_pParts(new Parts) {}

SigningKey::~SigningKey() = default;

bool SigningKey::Open(const std::string& pkcs12, const std::string& passText, std::string* pWhy)
{
    const unsigned char* pBytes = reinterpret_cast<const unsigned char*>(pkcs12.data());
    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> pFile(
        d2i_PKCS12(nullptr, &pBytes, (long)pkcs12.size()), PKCS12_free);
    if (!pFile)
        return Why(pWhy, "not a PKCS#12 file");
    std::string password = FirstLine(passText);
    if (PKCS12_mac_present(pFile.get()) &&
        PKCS12_verify_mac(pFile.get(), password.c_str(), (int)password.size()) != 1)
        return Why(pWhy, "the first line of the pass file is not its password");
    if (PKCS12_parse(pFile.get(), password.c_str(), &m_pParts->pKey, &m_pParts->pCert,
                     &m_pParts->pOthers) != 1)
        return Why(pWhy, "cannot open it: " + LibcryptoReason());
    if (m_pParts->pKey == nullptr || m_pParts->pCert == nullptr)
        return Why(pWhy, "it holds no private key with its certificate");
    return true;
}

bool SigningKey::CheckChain(const std::string& caPem, std::string* pWhy)
{
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> pStore(X509_STORE_new(),
                                                                   X509_STORE_free);
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> pContext(
        X509_STORE_CTX_new(), X509_STORE_CTX_free);
    if (!pStore || !pContext)
        return Why(pWhy, LibcryptoReason());
    if (!caPem.empty() && AddPemCertificates(caPem, pStore.get()) == 0)
        return Why(pWhy, "--ca-file holds no PEM certificate");
    m_caPem = caPem;
    // As Windows does with the signature's own certificates: those of the
    // key file may complete the chain; only a self-signed one among them
    // can end it.
    X509_STORE_add_cert(pStore.get(), m_pParts->pCert);
    for (int i = 0; i < sk_X509_num(m_pParts->pOthers); ++i)
        X509_STORE_add_cert(pStore.get(), sk_X509_value(m_pParts->pOthers, i));
    if (X509_STORE_CTX_init(pContext.get(), pStore.get(), m_pParts->pCert, m_pParts->pOthers) != 1)
        return Why(pWhy, LibcryptoReason());
    if (X509_verify_cert(pContext.get()) == 1)
        return true;
    int error = X509_STORE_CTX_get_error(pContext.get());
    std::string why = X509_verify_cert_error_string(error);
    char issuer[256] = "";
    X509* pFailed = X509_STORE_CTX_get_current_cert(pContext.get());
    if (pFailed != nullptr)
        X509_NAME_oneline(X509_get_issuer_name(pFailed), issuer, sizeof issuer);
    ERR_clear_error();
    return Why(pWhy, "its certificate chain cannot be verified: " + why +
                         (*issuer != '\0' ? std::string(" (issuer ") + issuer + ")" : "") +
                         (caPem.empty() ? "; give that root certificate with --ca-file" : ""));
}

bool SigningKey::WritePrivateCopy(const std::string& path, std::string* pWhy) const
{
    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> pFile(
        PKCS12_create("", "romgate-pack", m_pParts->pKey, m_pParts->pCert, m_pParts->pOthers, 0,
                      0, 0, 0, 0),
        PKCS12_free);
    unsigned char* pBytes = nullptr;
    int cb = pFile ? i2d_PKCS12(pFile.get(), &pBytes) : -1;
    if (cb <= 0)
        return Why(pWhy, "cannot copy the signing key: " + LibcryptoReason());
    std::string bytes(reinterpret_cast<const char*>(pBytes), (size_t)cb);
    OPENSSL_cleanse(pBytes, (size_t)cb);
    OPENSSL_free(pBytes);
    bool bWritten = WriteNewFile(path, bytes, 0600, pWhy);
    OPENSSL_cleanse(&bytes[0], bytes.size());
    return bWritten;
}

bool SigningKey::WriteTrusted(const std::string& path, std::string* pWhy) const
{
    Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    bool bWritten = bio && PEM_write_bio_X509(bio.get(), m_pParts->pCert) == 1;
    for (int i = 0; bWritten && i < sk_X509_num(m_pParts->pOthers); ++i)
        bWritten = PEM_write_bio_X509(bio.get(), sk_X509_value(m_pParts->pOthers, i)) == 1;
    char* pPem = nullptr;
    long cbPem = bWritten ? BIO_get_mem_data(bio.get(), &pPem) : 0;
    if (cbPem <= 0)
        return Why(pWhy, "cannot write the certificates: " + LibcryptoReason());
    return WriteNewFile(path, std::string(pPem, (size_t)cbPem) + m_caPem, 0600, pWhy);
}
