#include "app/session.h"

#include "support/memory.h"

// Configuration discovery (plain "Struct.cfg" files and CDF containers) and the loading of the
// product's script are not part of the program yet. Until they are, no configuration is ever found,
// so every start-up that needs one ends quietly with exit code 0.

namespace {
const int FIND_NOT_FOUND = 1;
}

int LocateConfiguration(UninstallSession* session, const char* pathArgument)
{
    (void)pathArgument;
    MemFree(session->configPath);
    MemFree(session->configFile);
    MemFree(session->configDir);
    session->configPath = session->configFile = session->configDir = nullptr;
    return FIND_NOT_FOUND;
}

int LoadSessionTexts(UninstallSession* session, const char* configFile)
{
    (void)session;
    (void)configFile;
    return CONFIG_NOT_LOADED;
}
