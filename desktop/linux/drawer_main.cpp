// tarnwick-drawer: the Linux program's drawing process (desktop/linux/PageEngine.h). The panel
// starts it with its own process id; it is not meant to be started by hand.
#include "desktop/linux/PageEngine.h"

int main(int argc, char** argv)
{
    return tarnwick::RunDrawingProcess(argc, argv);
}
