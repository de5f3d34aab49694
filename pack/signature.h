// What an executable's Authenticode signature says, read with libcrypto
// from the file itself (the certificate table of its PE headers): whether
// there is one, who signed it, and when a time-stamp authority says it was
// signed. Whether it verifies is osslsigncode's answer, not this reader's.
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

#endif  // ROMGATE_PACK_SIGNATURE_H
