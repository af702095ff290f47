#pragma once
#include "engine/session.h"

// Reads the command line into the session's flags, parentProcessId and sharingArgument. The first
// path in double quotes (or plain value) is returned in *pathArgument as a heap text (null when none).
void SessionReadCommandLine(UninstallSession* session, const char* commandLine, char** pathArgument);
