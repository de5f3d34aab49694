#include "pack/report.h"

#include <stdio.h>

#include <algorithm>

void Say(const std::string& message)
{
    // Standard error is where the packager looks; it has no other place.
    (void)fprintf(stderr, "romgate-pack: %s\n", message.c_str());
}

bool Fail(const std::string& message)
{
    Say(message);
    return false;
}

void PrintTable(const std::string& title, const std::vector<Row>& rows)
{
    int cchName = 0;
    for (const Row& row : rows)
        cchName = std::max(cchName, (int)row.name.size());
    printf("romgate-pack: %s\n", title.c_str());
    for (const Row& row : rows)
        printf("  %-*s %10llu bytes  %s\n", cchName, row.name.c_str(),
               (unsigned long long)row.cb, row.what.c_str());
}
