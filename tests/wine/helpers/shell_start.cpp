// Runs FILE with PARAMETERS as the launcher runs a child after a start
// refused for want of administrator rights: through the shell, waited for.
// Wine never refuses such a start, so the launcher never gets there itself.
#include "launcher/child_runs.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    RunElevatedAndWait(argv[1], argv[2]);
    return 0;
}
