// The installer's entry point; the driver steps follow in setup.cpp.
#include "setup.h"

int main(int argc, char **argv)
{
    (void)argc, (void)argv;
    return 0;
}
