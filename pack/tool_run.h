// Runs the packager's outside tool (osslsigncode) without a shell:
// arguments are handed over as they are, so no file name can be taken for
// shell syntax.
#ifndef ROMGATE_PACK_TOOL_RUN_H
#define ROMGATE_PACK_TOOL_RUN_H

#include <string>
#include <vector>

// Runs argv[0], found on PATH, with its standard output and error going to
// the new file logPath. "" when it exits with 0, else what happened, in
// words: "not found on PATH", "exited with status 1", "killed by signal 9",
// "interrupted" (the run was, and the tool was ended).
std::string RunTool(const std::vector<std::string>& argv, const std::string& logPath);

// What to say when program is not found on PATH, with the Debian package
// of the same name to install.
std::string MissingTool(const std::string& program);

// RunTool, its output going to logPath (an older file there is replaced).
// False with *pWhy saying which tool failed, how, and what it wrote.
bool RunExplained(const std::vector<std::string>& argv, const std::string& logPath,
                  std::string* pWhy);

// True when program is found on PATH as RunTool looks for it, so that a
// missing tool is told before the work that would need it.
bool OnPath(const std::string& program);

#endif  // ROMGATE_PACK_TOOL_RUN_H
