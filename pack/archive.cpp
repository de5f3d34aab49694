#include "pack/archive.h"

#include <time.h>

#include <zip.h>

#include "pack/interrupt.h"

namespace {

// 1980-01-01 00:00, the earliest time a zip entry can hold; it is kept in
// local time, so it is asked for in local time to come out the same
// anywhere.
time_t FixedEntryTime()
{
    struct tm start = {};
    start.tm_year = 80;
    start.tm_mday = 1;
    start.tm_isdst = -1;
    return mktime(&start);
}

// libzip compresses when the archive is closed; a long compression stops
// there when the run is interrupted.
int CancelWhenInterrupted(zip_t* /*pZip*/, void* /*pState*/)
{
    return InterruptSignal() != 0;
}

bool Discard(zip_t* pZip, std::string* pWhy)
{
    *pWhy = zip_strerror(pZip);
    zip_discard(pZip);
    return false;
}

}  // namespace

zip_t* OpenZip(const std::string& zipPath, int flags, std::string* pWhy)
{
    int error = 0;
    zip_t* pZip = zip_open(zipPath.c_str(), flags, &error);
    if (pZip == nullptr) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, error);
        *pWhy = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
    }
    return pZip;
}

bool WriteZip(const std::string& zipPath, const std::string& folder,
              const std::vector<std::string>& names, std::string* pWhy)
{
    zip_t* pZip = OpenZip(zipPath, ZIP_CREATE | ZIP_EXCL, pWhy);
    if (pZip == nullptr)
        return false;
    zip_register_cancel_callback_with_state(pZip, CancelWhenInterrupted, nullptr, nullptr);
    const time_t entryTime = FixedEntryTime();
    for (const std::string& name : names) {
        std::string path = folder;
        path += '/';
        path += name;
        zip_source_t* pSource = zip_source_file(pZip, path.c_str(), 0, -1);
        zip_int64_t iEntry =
            pSource == nullptr ? -1 : zip_file_add(pZip, name.c_str(), pSource, ZIP_FL_ENC_UTF_8);
        if (iEntry < 0) {
            zip_source_free(pSource);
            return Discard(pZip, pWhy);
        }
        if (zip_file_set_mtime(pZip, (zip_uint64_t)iEntry, entryTime, 0) != 0)
            return Discard(pZip, pWhy);
    }
    if (zip_close(pZip) == 0)
        return true;
    bool bInterrupted = InterruptSignal() != 0;
    Discard(pZip, pWhy);
    if (bInterrupted)
        *pWhy = "interrupted";
    return false;
}

std::string Sha256SumLine(const std::string& hex, const std::string& name)
{
    std::string escaped;
    for (char c : name) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return (escaped == name ? "" : "\\") + hex + "  " + escaped + "\n";
}
