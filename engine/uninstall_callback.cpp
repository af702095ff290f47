#include "engine/uninstall_callback.h"

// The executor and the progress reporting are not part of the program yet; until they are, every
// event gets the default answer.
int WINAPI UninstallCallback(UINT_PTR context, UINT_PTR object, UINT_PTR value, UINT32 event, UINT_PTR extra)
{
    (void)context;
    (void)object;
    (void)value;
    (void)event;
    (void)extra;
    return 0;
}
