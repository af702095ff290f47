#pragma once
// Installs a product into the Wine prefix the way the setup engine leaves it: an installation folder
// with files and the uninstaller beside them, the product's script as a plain "Struct.cfg" or inside a
// "SetUp.cdf" container with "Version.txt", the registry values the script's built-in objects name
// under HKEY_LOCAL_MACHINE\SOFTWARE\<vendor>\<suite>\<app>, and an Uninstall key. Everything is removed
// again when the stage goes.
//
//   ProductSpec spec;
//   spec.container = true;
//   spec.script += "_regitem=MAIN_TITLE /_CONTENTS \"My Product\";";
//   ProductStage product(spec);
//   ... product.folder(), product.configFile(), product.productKey() ...
#include "kit/testkit.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ProductSpec {
    bool container = false;        // "SetUp.cdf" holding "Struct.cfg" and "Version.txt", else a plain "Struct.cfg"
    std::string flags = "_REMOVE"; // words of the script's "_flags" entry
    std::string script;            // more script entries
    std::string version = "1.0";   // the installed "VERSION"
    std::string containerVersion;  // "Version.txt" of the container; empty: the installed version
    bool versionAsNumber = false;  // "VERSION" stored as REG_DWORD
    bool writeVersion = true;
    std::string product = "Staged Product"; // the "PRODUCT" value
    std::string remove;                     // the "REMOVE" value; empty: the configuration file itself
    bool writeRemove = true;
    bool withProgram = false;                               // a copy of the uninstaller in the installation folder
    std::vector<std::pair<std::string, std::string>> files; // installed files: name, content
};

class ProductStage {
  public:
    explicit ProductStage(const ProductSpec& spec);
    ~ProductStage();
    ProductStage(const ProductStage&) = delete;
    ProductStage& operator=(const ProductStage&) = delete;

    // The installation folder, with its trailing backslash.
    const std::string& folder() const { return folder_.path(); }
    // "Struct.cfg" or "SetUp.cdf" in the installation folder.
    std::string configFile() const;
    // "SOFTWARE\<vendor>\<suite>\<app>" below HKEY_LOCAL_MACHINE.
    const std::string& productKey() const { return productKey_; }
    const std::string& vendor() const { return vendor_; }
    // The uninstaller's copy in the installation folder (withProgram).
    std::string program() const { return folder_ / "Uninst.exe"; }
    // The script text as staged.
    const std::string& scriptText() const { return scriptText_; }

  private:
    TestFolder folder_;
    ProductSpec spec_;
    std::string vendor_, productKey_, uninstallKey_, scriptText_;
};
