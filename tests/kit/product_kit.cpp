#include "kit/product_kit.h"

#include "kit/cdf_writer.h"
#include "support/reg_keys.h"

namespace {

LONG g_stages = 0;

void Replace(std::string& text, const std::string& what, const std::string& with)
{
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

} // namespace

ProductStage::ProductStage(const ProductSpec& spec) : spec_(spec)
{
    vendor_ =
        "UninstVendor" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(InterlockedIncrement(&g_stages));
    productKey_ = "SOFTWARE\\" + vendor_ + "\\Suite\\App";
    uninstallKey_ = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + vendor_;
    // A test process that was ended leaves its keys, and Wine gives its process id again: what an earlier
    // process left under these names would become part of this product.
    RemoveTestKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + vendor_);
    RemoveTestKey(HKEY_LOCAL_MACHINE, uninstallKey_);

    std::string script = spec.script;
    Replace(script, "%FOLDER%", ScriptPath(folder_.path()));
    Replace(script, "%VENDOR%", vendor_);
    scriptText_ = "[SSCRIPT]\r\n_flags=" + spec.flags + ";\r\n_regkey=PARENT_HKEY /_TARGETPATH \"" + vendor_ +
                  "\";\r\n_regkey=PROJECT_HKEY /_TARGETPATH Suite;\r\n_regkey=PRODUCT_HKEY /_TARGETPATH App;\r\n" +
                  script + "\r\n";
    if (spec.container) {
        CdfFile file(CdfVersion::V97a);
        file.Add("Struct.cfg", scriptText_, true);
        file.Add("Version.txt", spec.containerVersion.empty() ? spec.version : spec.containerVersion, false);
        file.Write(configFile());
    } else {
        WriteFileBytes(configFile(), scriptText_);
    }
    for (const auto& f : spec.files) {
        WriteFileBytes(folder_ / f.first, f.second);
    }
    if (spec.withProgram) {
        CopyFileA((TestProgramFolder() + "Uninst.exe").c_str(), program().c_str(), FALSE);
    }

    HKEY key = CreateRegKey(HKEY_LOCAL_MACHINE, productKey_.c_str());
    if (spec.writeVersion) {
        if (spec.versionAsNumber) {
            DWORD number = 1;
            RegSetValueExA(key, "VERSION", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
        } else {
            SetRegString(key, "VERSION", spec.version.c_str());
        }
    }
    if (spec.writeRemove) {
        SetRegString(key, "REMOVE", (spec.remove.empty() ? configFile() : spec.remove).c_str());
    }
    SetRegString(key, "PRODUCT", spec.product.c_str());
    CloseRegKey(key);
    key = CreateRegKey(HKEY_LOCAL_MACHINE, uninstallKey_.c_str());
    SetRegString(key, "DisplayName", spec.product.c_str());
    SetRegString(key, "UninstallString", program().c_str());
    CloseRegKey(key);
}

ProductStage::~ProductStage()
{
    RemoveTestKey(HKEY_LOCAL_MACHINE, ("SOFTWARE\\" + vendor_));
    RemoveTestKey(HKEY_LOCAL_MACHINE, uninstallKey_);
}

std::string ProductStage::configFile() const
{
    return folder_ / (spec_.container ? "SetUp.cdf" : "Struct.cfg");
}
