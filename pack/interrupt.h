// Ctrl-C, a kill or a closed terminal while romgate-pack works: the signal
// only marks the run as interrupted and wakes whatever waits, so that the
// run unwinds through its normal failure path, which removes everything it
// made, and then ends by that same signal.
#ifndef ROMGATE_PACK_INTERRUPT_H
#define ROMGATE_PACK_INTERRUPT_H

// Catches SIGINT, SIGTERM and SIGHUP from now on. False when it cannot.
bool CatchInterrupts();

// The signal that interrupted the run, 0 while none has.
int InterruptSignal();

// Waits until fd has something to read (or its end), as a pipe or FIFO may
// never have; false when the run is interrupted first.
bool WaitReadable(int fd);

// Holds the signals off while the finished package is moved into place, so
// that it is moved whole or not at all; the destructor lets them in again.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// Ends the process by the signal that interrupted it, as if never caught,
// so that the shell that started it sees why it ended.
[[noreturn]] void EndAsInterrupted();

#endif  // ROMGATE_PACK_INTERRUPT_H
