#include "kit/progman_standin.h"
#include "system/progman.h"
#include "support/memory.h"

#include <gtest/gtest.h>

TEST(ProgmanExperiment, WhoAnswers)
{
    DWORD t0 = GetTickCount();
    int created = CreateProgmanGroup("UninstExp Group");
    printf("wine create=%d in %lu ms\n", created, GetTickCount() - t0);
    StringTable* t = RequestProgmanGroups();
    printf("groups table=%p rows=%u\n", (void*)t, t ? t->rowCount : 0);
    for (UINT32 i = 0; t && i < t->rowCount; i++)
        printf(" [%s]\n", StringTableRow(t, i));
    MemFree(t);
    StringTable* g = RequestGroupInfo("UninstExp Group");
    printf("group info=%p\n", (void*)g);
    MemFree(g);
    {
        ProgmanStandIn standIn;
        printf("standin running=%d\n", standIn.running());
        standIn.AddGroup("Stand Group", {{"A", "C:\\a.exe", "C:\\", "C:\\a.exe"}});
        for (int k = 0; k < 5; k++) {
            StringTable* s = RequestProgmanGroups();
            printf("with stand-in: rows=%u first=%s\n", s ? s->rowCount : 0, s ? StringTableRow(s, 0) : "-");
            MemFree(s);
        }
        StringTable* d = RequestGroupInfo("Stand Group");
        printf("desc rows=%u\n", d ? d->rowCount : 0);
        MemFree(d);
        printf("show=%d\n", ShowProgmanGroup("Stand Group", 0));
        printf("commands=%zu\n", standIn.Commands().size());
    }
    printf("wine delete=%d\n", DeleteProgmanGroup("UninstExp Group"));
}
