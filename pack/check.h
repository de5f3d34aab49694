// romgate-pack --check: release QA of a package folder or zip that someone
// else may have built, read the way Romgate and Windows will read it.
#ifndef ROMGATE_PACK_CHECK_H
#define ROMGATE_PACK_CHECK_H

// Runs the check with romgate-pack's arguments (one of them --check), the
// interruptions caught already. Returns the exit status: 0 sound (warnings
// allowed), 1 not, 2 wrong usage.
int CheckMain(int argc, char** argv);

#endif  // ROMGATE_PACK_CHECK_H
