/* The least a launcher can do on Linux: start each child given on the
 * command line, in order, and wait for it. romgate's benchmark holds it up
 * against this. Children are separated by "--":
 *   baseline Setup.exe -s -- Chipburn.exe 'Z:\pkg\BIOS.rom'
 * With no arguments it starts nothing, which makes it a child that exits at
 * once, too. */
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv)
{
    int i = 1;
    while (i < argc) {
        int end = i;
        while (end < argc && strcmp(argv[end], "--") != 0)
            end++;
        argv[end < argc ? end : argc] = NULL;
        pid_t pid;
        int status;
        if (posix_spawn(&pid, argv[i], NULL, NULL, argv + i, environ) == 0)
            waitpid(pid, &status, 0);
        i = end + 1;
    }
    return 0;
}
