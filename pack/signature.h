// What an executable's Authenticode signature says, read with libcrypto
// from the file itself (the certificate table of its PE headers): whether
// there is one, who signed it, and when a time-stamp authority says it was
// signed. Whether the signature verifies is osslsigncode's answer; whether
// its time stamp does is VerifyTimeStamp's, as osslsigncode falls back to
// the signing certificate's own validity when the time stamp fails.
#ifndef ROMGATE_PACK_SIGNATURE_H
#define ROMGATE_PACK_SIGNATURE_H

#include <string>

struct SignatureFacts {
    bool bPresent;            // the certificate table holds a signature
    std::string signer;       // the signer certificate's subject, one line
    bool bTimeStamped;        // an RFC 3161 time stamp is attached to it
    std::string timeStamped;  // its time, "YYYY-MM-DD HH:MM:SS UTC"
};

// Reads the signature facts of the PE bytes. False, with *pWhy, when the
// certificate table is there but is not a signature this reader can parse;
// a file without one answers true with bPresent false.
bool ReadSignatureFacts(const std::string& bytes, SignatureFacts* pFacts, std::string* pWhy);

// Checks the time stamp of the PE bytes' signature as Windows does: the
// authority's token is signed by a time-stamping certificate that chains to
// one of the PEM certificates trustedPem, and it stamps this signature's
// own value. False, with *pWhy, otherwise, and when there is none.
bool VerifyTimeStamp(const std::string& bytes, const std::string& trustedPem, std::string* pWhy);

#endif  // ROMGATE_PACK_SIGNATURE_H
