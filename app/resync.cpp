#include "app/resync.h"

// The resynchronisation is not part of the program yet: it rebuilds nothing and answers 0.
int ResyncSharing(const char* keyPath, UINT32 kinds)
{
    (void)keyPath;
    (void)kinds;
    return 0;
}
