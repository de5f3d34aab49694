// The two programs the launcher runs: the packaged installer and the suite's
// flashing program. Each runs to its end before the call returns.
#ifndef ROMGATE_LAUNCHER_CHILD_RUNS_H
#define ROMGATE_LAUNCHER_CHILD_RUNS_H

// Size of a child's command-line buffer: at most 511 characters.
#define COMMAND_LINE_SIZE 512

// Runs "<launcher dir>\Setup.exe -s".
void RunSetup();
// Runs "<suite location>\Chipburn.exe <launcher dir>\BIOS.rom".
void RunFlasher();
// Starts the program with its parameters as a child without a window and
// waits for it to end. A program that needs administrator rights is started
// again through the shell, which asks the user for them. A child that cannot
// be started, or whose elevation the user declines, is skipped quietly; its
// exit code is not looked at.
void RunAndWait(const char* pszProgram, const char* pszParameters);
// Starts the program through the shell, which asks the user for
// administrator rights first, and waits for it; skipped when the user
// declines or the shell cannot start it.
void RunElevatedAndWait(const char* pszProgram, const char* pszParameters);

#endif  // ROMGATE_LAUNCHER_CHILD_RUNS_H
