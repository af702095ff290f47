#include "app/driver.h"

// The two-phase uninstall is not part of the program yet: it removes nothing and answers 0.
int RunUninstall(UninstallSession* session)
{
    (void)session;
    return 0;
}
