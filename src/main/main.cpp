// The real tool's entry: hidapi talks to the keyboards on this machine.
#include "main.h"

int main(int argc, char** argv)
{
    return qMain(argc, argv);
}
