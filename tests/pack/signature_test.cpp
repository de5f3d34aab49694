// romgate-pack's signature reader on PE headers built here, around a
// PKCS#7 signature made here: the certificate table at and just past the
// bounds of the file and of its entry, and entries of the wrong kind.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "pack/signature.h"

namespace {

// A detached PKCS#7 signature by a self-signed "CN=Romgate test signer".
std::string SignedData()
{
    EVP_PKEY* pKey = EVP_EC_gen("P-256");
    X509* pCert = X509_new();
    X509_NAME* pName = X509_get_subject_name(pCert);
    X509_NAME_add_entry_by_txt(pName, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Romgate test signer"), -1,
                               -1, 0);
    X509_set_issuer_name(pCert, pName);
    X509_gmtime_adj(X509_getm_notBefore(pCert), 0);
    X509_gmtime_adj(X509_getm_notAfter(pCert), 3600);
    X509_set_pubkey(pCert, pKey);
    X509_sign(pCert, pKey, EVP_sha256());
    BIO* pData = BIO_new_mem_buf("launcher", 8);
    PKCS7* pSigned = PKCS7_sign(pCert, pKey, nullptr, pData, PKCS7_BINARY | PKCS7_DETACHED);
    unsigned char* pDer = nullptr;
    int cb = i2d_PKCS7(pSigned, &pDer);
    std::string der(reinterpret_cast<char*>(pDer), cb > 0 ? (size_t)cb : 0);
    OPENSSL_free(pDer);
    PKCS7_free(pSigned);
    BIO_free(pData);
    X509_free(pCert);
    EVP_PKEY_free(pKey);
    return der;
}

void Put(std::string* pBytes, size_t at, uint32_t value, int cb)
{
    for (int i = 0; i < cb; ++i)
        (*pBytes)[at + i] = (char)(value >> (8 * i));
}

// What the headers say of the table, and the table's one entry.
struct Layout {
    uint16_t magic;          // PE32 or PE32+
    uint32_t cDirectories;   // NumberOfRvaAndSizes
    uint32_t cbOptional;     // SizeOfOptionalHeader
    uint32_t offTable, cbTable, cbEntry;
    uint16_t revision, type;
    char mz;                 // the first byte of the file
};

const size_t kOffOptional = 0x58;

// Headers, then the table right at their end: one entry holding the
// signature, as long as the table.
std::string Executable(void (*edit)(Layout*), const std::string& der, bool bPlus)
{
    uint32_t cbOptional = bPlus ? 240 : 224, cbEntry = 8 + (uint32_t)der.size();
    Layout l = {(uint16_t)(bPlus ? 0x20B : 0x10B), 16, cbOptional,
                (uint32_t)kOffOptional + cbOptional, cbEntry, cbEntry, 0x200, 2, 'M'};
    edit(&l);
    const size_t offEntry = kOffOptional + (bPlus ? 112 : 96) + 4 * 8;
    std::string bytes(kOffOptional + cbOptional, '\0');
    bytes.replace(0, 2, "MZ");
    bytes[0] = l.mz;
    Put(&bytes, 0x3C, 0x40, 4);
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    Put(&bytes, 0x54, l.cbOptional, 2);
    Put(&bytes, kOffOptional, l.magic, 2);
    Put(&bytes, offEntry - 36, l.cDirectories, 4);
    Put(&bytes, offEntry, l.offTable, 4);
    Put(&bytes, offEntry + 4, l.cbTable, 4);
    std::string entry(8, '\0');
    Put(&entry, 0, l.cbEntry, 4);
    Put(&entry, 4, l.revision, 2);
    Put(&entry, 6, l.type, 2);
    return bytes + entry + der;
}

struct Case {
    const char* name;
    void (*edit)(Layout*);
    bool bRead, bPresent;
    const char* why;
};

const Case kCases[] = {
    {"signed", [](Layout*) {}, true, true, ""},
    {"no table", [](Layout* p) { p->offTable = p->cbTable = 0; }, true, false, ""},
    {"4 directories", [](Layout* p) { p->cDirectories = 4; }, true, false, ""},
    {"5 directories", [](Layout* p) { p->cDirectories = 5; }, true, true, ""},
    // The optional header as given holds the entry up to its last byte, or not.
    {"header ends with the entry", [](Layout* p) { p->cbOptional -= 88; },
     true, true, ""},
    {"header a byte short", [](Layout* p) { p->cbOptional -= 89; }, true, false, ""},
    {"table a byte past the end", [](Layout* p) { ++p->cbTable; }, false, false, "past the end"},
    {"table a byte later", [](Layout* p) { ++p->offTable; }, false, false, "past the end"},
    {"entry a byte past the table", [](Layout* p) { ++p->cbEntry; }, false, false, "in a table"},
    {"entry of 7 bytes", [](Layout* p) { p->cbEntry = 7; }, false, false, "length of 7"},
    {"entry of 8 bytes", [](Layout* p) { p->cbEntry = 8; }, false, false, "no PKCS#7"},
    {"signature cut by a byte", [](Layout* p) { --p->cbEntry; }, false, false, "no PKCS#7"},
    {"revision 1.0", [](Layout* p) { p->revision = 0x100; }, false, false, "not a PKCS#7 sig"},
    {"an X.509 certificate", [](Layout* p) { p->type = 1; }, false, false, "not a PKCS#7 sig"},
    {"neither PE32 nor PE32+", [](Layout* p) { p->magic = 0x107; }, false, false, "PE32 or PE32+"},
    {"a ROM image", [](Layout* p) { p->mz = 'R'; }, false, false, "not a Windows executable"},
};

TEST(SignatureFacts, ReadsTheCertificateTableWithinItsBounds)
{
    const std::string der = SignedData();
    ASSERT_FALSE(der.empty());
    for (const Case& c : kCases) {
        for (bool bPlus : {false, true}) {
            std::string why;
            SignatureFacts facts;
            EXPECT_EQ(ReadSignatureFacts(Executable(c.edit, der, bPlus), &facts, &why), c.bRead)
                << c.name << bPlus << ": " << why;
            EXPECT_EQ(facts.bPresent && c.bRead, c.bPresent) << c.name << bPlus;
            EXPECT_NE(why.find(c.why), std::string::npos) << c.name << bPlus << ": " << why;
            EXPECT_EQ(facts.signer, c.bPresent ? "CN=Romgate test signer" : "") << c.name;
            EXPECT_FALSE(facts.bTimeStamped) << c.name;
        }
    }
}

}  // namespace
