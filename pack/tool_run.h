// Runs the packager's outside tools (osslsigncode, openssl, zip, sha256sum)
// without a shell: arguments are handed over as they are, so no file name
// can be taken for shell syntax.
#ifndef ROMGATE_PACK_TOOL_RUN_H
#define ROMGATE_PACK_TOOL_RUN_H

#include <string>
#include <vector>

// Runs argv[0] (found on PATH) in the folder cwd ("" for the current one),
// its standard output going to the file stdoutPath ("" for the log). Its
// standard error goes to the file logPath. True when it exits with 0.
bool RunTool(const std::vector<std::string>& argv, const std::string& cwd,
             const std::string& stdoutPath, const std::string& logPath);

#endif  // ROMGATE_PACK_TOOL_RUN_H
