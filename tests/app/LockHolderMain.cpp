// Plays another program built on the printer library: takes the instance lock, says
// "LOCKED", and keeps the lock until its standard input closes.
#include "CVarkoPrinters.h"

#include <cstdio>
#include <unistd.h>

int main()
{
    CVarkoPrinters printers;
    if (printers.IsAlreadyRunning())
    {
        std::puts("HELD ELSEWHERE");
        return 3;
    }
    std::puts("LOCKED");
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0)
    {
    }
    return 0;
}
