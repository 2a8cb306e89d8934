#include "app/Application.h"

// Arguments are ignored: the program has no command-line options.
int main(int argc, char** argv)
{
    return VultariMain(argc, argv);
}
