// odomira-cli: the printer fleet from a terminal.
#include "CliApp.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    return cli::RunCli(argc, argv, stdin, stdout, stderr, isatty(STDIN_FILENO) == 1,
                       isatty(STDERR_FILENO) == 1);
}
