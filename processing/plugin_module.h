// processing: CPluginModule, the loaded processing plug-in (Tavro.so) and
// its one export TavroFunc.
//
// Lookup order of Load(): the explicit path when one is given (--plugin),
// else the PELORA_PLUGIN environment variable, else Tavro.so next to the
// running executable, else Tavro.so in the installed plug-in folder
// (PELORA_PLUGIN_DIR_FROM_BIN relative to the executable's folder,
// ../lib/pelora), else the loader's normal search for "Tavro.so".
// The module stays loaded until Unload() or destruction; the owner must make
// sure no thread is inside TavroFunc by then.
//
// Threads: Load/Unload on the owner's thread (the dialog's GUI thread or the
// headless runner's main thread) while no worker runs; Function() may then
// be read by the worker.
// May include: the C++ standard library, platform/win, include/pelora. No Qt.
#pragma once

#include <string>

#include "pelora/tavro_plugin.h"
#include "platform/win/win_types.h"

class CPluginModule {
public:
    enum class EResult {
        Loaded,          // module and export found
        ModuleNotFound,  // the library could not be loaded
        ExportNotFound,  // loaded, but TavroFunc is missing (the module is unloaded again)
    };

    CPluginModule() = default;
    ~CPluginModule() { Unload(); }
    CPluginModule(const CPluginModule&) = delete;
    CPluginModule& operator=(const CPluginModule&) = delete;

    // Loads the plug-in (see the lookup order above). strExplicitPath empty:
    // no explicit path. Any module loaded before is unloaded first.
    EResult Load(const std::string& strExplicitPath = std::string());
    void Unload();
    // Forgets the module without unloading it: it stays loaded for the rest
    // of the process, for a worker that may still be inside TavroFunc.
    void Abandon() {
        m_pfnProcess = nullptr;
        m_hPlugin = nullptr;
    }

    TAVROFUNC Function() const { return m_pfnProcess; }
    bool IsLoaded() const { return m_hPlugin != nullptr; }
    // The file actually loaded, or the last path tried.
    const std::string& Path() const { return m_strPath; }
    // The loader's own error text of the last failure (dlerror).
    const std::string& LoaderError() const { return m_strError; }

    // The messages the user sees for the two failures, or "" for Loaded.
    static std::string MessageFor(EResult eResult);

    // The folder of the running executable, with a trailing '/', or "".
    static std::string ExecutableFolder();

private:
    void* m_hPlugin = nullptr;         // dlopen handle, null when nothing is loaded
    TAVROFUNC m_pfnProcess = nullptr;  // TavroFunc, null when missing
    std::string m_strPath;
    std::string m_strError;
};
