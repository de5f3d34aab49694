#include "pack/signature.h"

#include <stdint.h>
#include <time.h>

#include <memory>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include "pack/le_bytes.h"
#include "pack/pe_facts.h"

namespace {

const uint32_t kCertificateDirectory = 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY
const uint32_t kWinCertificateHeader = 8;  // dwLength, wRevision, wCertificateType
const uint32_t kRevision2 = 0x0200;
const uint32_t kTypePkcsSignedData = 0x0002;
// Where an RFC 3161 time stamp hangs on an Authenticode signature: an
// unauthenticated attribute of its signer.
const char kRfc3161TimeStamp[] = "1.3.6.1.4.1.311.3.3.1";

using Pkcs7 = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;

bool Why(std::string* pWhy, const std::string& why)
{
    *pWhy = why;
    return false;
}

// The file offset and size of the certificate table: its directory entry
// holds a file offset, not an address, as the table is never mapped. Both
// 0 when the file has none.
bool FindCertificateTable(const std::string& bytes, uint64_t* pOffset, uint64_t* pcb,
                          std::string* pWhy)
{
    uint32_t offset = 0, cb = 0;
    if (!ReadDataDirectory(bytes, kCertificateDirectory, &offset, &cb))
        return Why(pWhy, "not a Windows executable with a PE32 or PE32+ optional header");
    *pOffset = offset;
    *pcb = cb;
    if (cb != 0 && !Bytes{bytes}.Has(offset, cb))
        return Why(pWhy, "its certificate table runs past the end of the file");
    return true;
}

Pkcs7 DecodePkcs7(const unsigned char* p, long cb)
{
    Pkcs7 pDecoded(d2i_PKCS7(nullptr, &p, cb), PKCS7_free);
    ERR_clear_error();
    return pDecoded;
}

// The signature of the PE bytes: null, and true, when it has none.
bool ReadSignature(const std::string& bytes, Pkcs7* pSignature, std::string* pWhy)
{
    Bytes b{bytes};
    uint64_t offTable = 0, cbTable = 0;
    if (!FindCertificateTable(bytes, &offTable, &cbTable, pWhy))
        return false;
    if (cbTable == 0)
        return true;
    // Windows reads the first entry; a signature is the only kind it takes.
    uint64_t cbEntry = b.U32(offTable);
    if (cbEntry < kWinCertificateHeader || cbEntry > cbTable)
        return Why(pWhy, "its certificate table's first entry has a length of " +
                             std::to_string(cbEntry) + " bytes, in a table of " +
                             std::to_string(cbTable));
    if (b.U16(offTable + 4) != kRevision2 || b.U16(offTable + 6) != kTypePkcsSignedData)
        return Why(pWhy, "its certificate table's first entry is not a PKCS#7 signature "
                         "(WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA)");
    *pSignature = DecodePkcs7(reinterpret_cast<const unsigned char*>(&bytes[offTable]) +
                                  kWinCertificateHeader,
                              (long)(cbEntry - kWinCertificateHeader));
    if (!*pSignature || PKCS7_type_is_signed(pSignature->get()) == 0 ||
        sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(pSignature->get())) < 1)
        return Why(pWhy, "its certificate table holds no PKCS#7 signed data with a signer");
    return true;
}

std::string NameLine(const X509_NAME* pName)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    char* pText = nullptr;
    // Non-ASCII and control characters come escaped, so the line is safe to print.
    if (!bio || X509_NAME_print_ex(bio.get(), pName, 0, XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ) < 0)
        return "";
    long cb = BIO_get_mem_data(bio.get(), &pText);
    return cb > 0 ? std::string(pText, (size_t)cb) : "";
}

// The subject of the certificate that made the signature, as Windows shows
// it as the publisher.
bool ReadSigner(PKCS7* pSignature, std::string* pSigner, std::string* pWhy)
{
    STACK_OF(X509)* pSigners = PKCS7_get0_signers(pSignature, nullptr, 0);
    X509* pSignerCert = sk_X509_num(pSigners) > 0 ? sk_X509_value(pSigners, 0) : nullptr;
    *pSigner = pSignerCert != nullptr ? NameLine(X509_get_subject_name(pSignerCert)) : "";
    sk_X509_free(pSigners);
    ERR_clear_error();
    return !pSigner->empty() || Why(pWhy, "the signature does not hold its signer's certificate");
}

// The RFC 3161 time stamp among the signer's unauthenticated attributes;
// nullptr when it has none.
const ASN1_STRING* FindTimeStamp(PKCS7_SIGNER_INFO* pSignerInfo)
{
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> pOid(
        OBJ_txt2obj(kRfc3161TimeStamp, 1), ASN1_OBJECT_free);
    const STACK_OF(X509_ATTRIBUTE)* pAttributes = pSignerInfo->unauth_attr;
    for (int i = 0; pOid && i < sk_X509_ATTRIBUTE_num(pAttributes); ++i) {
        X509_ATTRIBUTE* pAttribute = sk_X509_ATTRIBUTE_value(pAttributes, i);
        if (OBJ_cmp(X509_ATTRIBUTE_get0_object(pAttribute), pOid.get()) != 0)
            continue;
        const ASN1_TYPE* pValue = X509_ATTRIBUTE_get0_type(pAttribute, 0);
        return pValue != nullptr && pValue->type == V_ASN1_SEQUENCE ? pValue->value.sequence
                                                                    : nullptr;
    }
    return nullptr;
}

// A store of the certificates of the PEM text, the roots to trust.
X509_STORE* TrustedStore(const std::string& pem)
{
    X509_STORE* pStore = X509_STORE_new();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), (int)pem.size()),
                                                  BIO_free);
    while (pStore != nullptr && bio) {
        X509* pCert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        if (pCert == nullptr)
            break;
        X509_STORE_add_cert(pStore, pCert);
        X509_free(pCert);
    }
    ERR_clear_error();  // the end of the text reads as an error
    return pStore;
}

// The time the authority put in its token (the TSTInfo's genTime), as UTC.
bool ReadTimeStamp(const ASN1_STRING* pToken, std::string* pTime, std::string* pWhy)
{
    Pkcs7 pSigned = DecodePkcs7(ASN1_STRING_get0_data(pToken), ASN1_STRING_length(pToken));
    std::unique_ptr<TS_TST_INFO, decltype(&TS_TST_INFO_free)> pInfo(
        pSigned ? PKCS7_to_TS_TST_INFO(pSigned.get()) : nullptr, TS_TST_INFO_free);
    const ASN1_GENERALIZEDTIME* pGenTime = pInfo ? TS_TST_INFO_get_time(pInfo.get()) : nullptr;
    struct tm when = {};
    char text[32];
    ERR_clear_error();
    if (pGenTime == nullptr || ASN1_TIME_to_tm(pGenTime, &when) != 1 ||
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &when) == 0)
        return Why(pWhy, "its time stamp is not a time-stamp authority's token with a time");
    *pTime = text;
    return true;
}

// The signer's first entry, which Windows reads.
PKCS7_SIGNER_INFO* FirstSigner(PKCS7* pSignature)
{
    return sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(pSignature), 0);
}

}  // namespace

bool ReadSignatureFacts(const std::string& bytes, SignatureFacts* pFacts, std::string* pWhy)
{
    *pFacts = SignatureFacts{false, "", false, ""};
    Pkcs7 pSignature(nullptr, PKCS7_free);
    if (!ReadSignature(bytes, &pSignature, pWhy))
        return false;
    if (!pSignature)
        return true;
    pFacts->bPresent = true;
    if (!ReadSigner(pSignature.get(), &pFacts->signer, pWhy))
        return false;
    const ASN1_STRING* pToken = FindTimeStamp(FirstSigner(pSignature.get()));
    pFacts->bTimeStamped = pToken != nullptr;
    return pToken == nullptr || ReadTimeStamp(pToken, &pFacts->timeStamped, pWhy);
}

bool VerifyTimeStamp(const std::string& bytes, const std::string& trustedPem, std::string* pWhy)
{
    Pkcs7 pSignature(nullptr, PKCS7_free);
    if (!ReadSignature(bytes, &pSignature, pWhy))
        return false;
    if (!pSignature)
        return Why(pWhy, "it is not signed");
    PKCS7_SIGNER_INFO* pSigner = FirstSigner(pSignature.get());
    const ASN1_STRING* pToken = FindTimeStamp(pSigner);
    if (pToken == nullptr)
        return Why(pWhy, "its signature has no time stamp");
    Pkcs7 pTokenSigned = DecodePkcs7(ASN1_STRING_get0_data(pToken), ASN1_STRING_length(pToken));
    std::unique_ptr<TS_VERIFY_CTX, decltype(&TS_VERIFY_CTX_free)> pContext(TS_VERIFY_CTX_new(),
                                                                          TS_VERIFY_CTX_free);
    X509_STORE* pStore = TrustedStore(trustedPem);
    // The authority stamps the signature value itself (the signer's
    // encrypted digest), so the stamp cannot be moved to another signature.
    const ASN1_OCTET_STRING* pValue = pSigner->enc_digest;
    BIO* pData = BIO_new_mem_buf(ASN1_STRING_get0_data(pValue), ASN1_STRING_length(pValue));
    if (!pTokenSigned || !pContext || pStore == nullptr || pData == nullptr) {
        X509_STORE_free(pStore);
        BIO_free(pData);
        return Why(pWhy, "its time stamp cannot be read");
    }
    // The context owns the store and the data from here on.
    TS_VERIFY_CTX_set_store(pContext.get(), pStore);
    TS_VERIFY_CTX_set_data(pContext.get(), pData);
    TS_VERIFY_CTX_set_flags(pContext.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
    if (TS_RESP_verify_token(pContext.get(), pTokenSigned.get()) == 1)
        return true;
    // The reason, and for a broken chain the verifier's words for it.
    const char* pszData = nullptr;
    int flags = 0;
    const char* pszReason = ERR_reason_error_string(ERR_peek_last_error_data(&pszData, &flags));
    std::string why = pszReason != nullptr ? pszReason : "unknown reason";
    if (pszData != nullptr && (flags & ERR_TXT_STRING) != 0 && *pszData != '\0')
        why += std::string(", ") + pszData;
    ERR_clear_error();
    return Why(pWhy, "its time stamp does not verify: " + why +
                         " (the authority's root must be among the trusted certificates)");
}
