// What romgate-pack tells the packager: messages on standard error, and
// the table of the package's files on standard output.
#ifndef ROMGATE_PACK_REPORT_H
#define ROMGATE_PACK_REPORT_H

#include <stdint.h>

#include <string>
#include <vector>

struct Row {
    std::string name, what;
    uint64_t cb;
};

// "romgate-pack: <message>" on standard error.
void Say(const std::string& message);

// Says the message; false, for a failing check to return.
bool Fail(const std::string& message);

// The title line, then a line per row, the names in one column.
void PrintTable(const std::string& title, const std::vector<Row>& rows);

#endif  // ROMGATE_PACK_REPORT_H
