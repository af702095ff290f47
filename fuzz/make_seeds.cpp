// Writes the fuzzers' starting inputs with the test container writer: containers of every version,
// single chunks, configuration texts. Usage: make_seeds FOLDER (subfolders cdf, chunk, config_text
// must exist).
#include "kit/cdf_writer.h"

#include <stdio.h>

#include <string>

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 2;
    }
    std::string root = argv[1];
    int n = 0;
    for (CdfVersion version : {CdfVersion::V96a, CdfVersion::V96b, CdfVersion::V97a}) {
        for (size_t size : {0u, 5u, 40000u, 70000u}) {
            CdfFile file(version);
            file.Add("Struct.cfg", "[SSC]\r\n[SSCRIPT]\r\nFILE=\"a.txt\" /_DEST=x", true);
            file.Add("Version.txt", "1.0", false);
            file.Add("data.bin", CdfSampleContent(size, static_cast<UINT32>(size)), size % 2 == 0);
            WriteFileBytes(root + "/cdf/seed" + std::to_string(n++), file.Build());
        }
    }
    CdfStreamOptions options;
    std::string content = CdfSampleContent(65536, 5);
    WriteFileBytes(root + "/chunk/deflate", "\x80" + CdfMakeChunk(content.substr(0, 32768), "", options));
    WriteFileBytes(root + "/chunk/windowed",
                   "\x81" + CdfMakeChunk(content.substr(32768), content.substr(0, 32768), options));
    options.storedChunks = true;
    WriteFileBytes(root + "/chunk/stored", "\x05" + CdfMakeChunk("stored bytes", "", options));
    WriteFileBytes(root + "/config_text/script", std::string("\x01\x10") +
                                                     "[SSC]\r\n[SSCRIPT]\r\nFILE=\"C:\\App\\a.txt\" /_DEST=(x) 12, "
                                                     "KEY=\"quoted \\\"v\\\"\"\r\n;C=3 /KILL -42 [NEXT]\r\n");
    WriteFileBytes(root + "/script/product",
                   "[SSC]\r\n[SSCRIPT]\r\n_flags=_REMOVE _REBOOT;\r\n"
                   "_dir=APPDIR /_TARGETPATH \"C:\\\\App\" /_REMOVABLE;\r\n"
                   "_file=MAIN /_PARENT APPDIR /_TARGETPATH main.exe /_SOURCE \"d\\\\m.exe\" /_GROUP G Item "
                   "/_ICON MAIN 1 /_SHAREDDLL KEY /_FRIENDEXT GID _DEL _SAT /_UNINSTALL un.exe -u /_SETUP;\r\n"
                   "_file=LIB /_PARENT APPDIR /_SYSLIB /_LANGUAGE en _EXE /_TARGETMASK *.dll;\r\n"
                   "_regkey=KEY /_TARGETPATH Software\\\\M /_SHAREKEY _DLLSHARING;\r\n"
                   "_regitem=V /_PARENT KEY /_COUNTER /_KEEPCONTENTS /_CONTENTS 1;\r\n"
                   "_dir=APPDIR /_PARENT APPDIR;_dir=B /_PARENT APPDIR;_dir=APPDIR /_PARENT B;\r\n"
                   "_regitem=LOOP /_PARENT KEY /_CONTENTS \"INFOSTR SELF and INFOSTR LOOP\";\r\n"
                   "_file=T /_PARENT APPDIR /_TARGETPATH \"(OBJECTDIR SELF)x (WINDIR)y OBJECTFILE T\" "
                   "/_CONTENTS \"OBJECTPATH T OBJECTSOURCE T PROGFILES WINSYS\";\r\n");
    WriteFileBytes(root + "/config_text/command", std::string("\x00\x20") + "1234 \"C:\\App\\\" /DLLSHARING \"K\"");
    return 0;
}
