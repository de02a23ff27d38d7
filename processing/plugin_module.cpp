#include "processing/plugin_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

std::string CPluginModule::ExecutableFolder() {
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    std::string strExe(buf.data(), static_cast<size_t>(n));
    const size_t nSlash = strExe.rfind('/');
    if (nSlash == std::string::npos) return std::string();
    return strExe.substr(0, nSlash + 1);
}

std::string CPluginModule::MessageFor(EResult eResult) {
    switch (eResult) {
        case EResult::ModuleNotFound:
            return TAVRO_FILE_NAME "が見つかりません";
        case EResult::ExportNotFound:
            return TAVRO_FUNC_NAME "が見つかりません";
        case EResult::Loaded:
            break;
    }
    return std::string();
}

CPluginModule::EResult CPluginModule::Load(const std::string& strExplicitPath) {
    Unload();
    m_strError.clear();

    // The first candidate that names a file decides; a name without a slash
    // goes to the loader's own search.
    std::string strCandidate;
    if (!strExplicitPath.empty()) {
        strCandidate = strExplicitPath;
    } else if (const char* pszEnv = std::getenv("PELORA_PLUGIN"); pszEnv && *pszEnv) {
        strCandidate = pszEnv;
    } else {
        strCandidate = TAVRO_FILE_NAME;
        const std::string strExeFolder = ExecutableFolder();
        if (!strExeFolder.empty()) {
            for (const std::string& strFolder :
                 {strExeFolder, strExeFolder + PELORA_PLUGIN_DIR_FROM_BIN "/"}) {
                const std::string strPath = strFolder + TAVRO_FILE_NAME;
                if (access(strPath.c_str(), F_OK) == 0) {
                    strCandidate = strPath;
                    break;
                }
            }
        }
    }
    m_strPath = strCandidate;

    dlerror();
    void* h = dlopen(strCandidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        const char* pszErr = dlerror();
        m_strError = pszErr ? pszErr : "dlopen failed";
        return EResult::ModuleNotFound;
    }
    dlerror();
    void* pSym = dlsym(h, TAVRO_FUNC_NAME);
    if (pSym == nullptr) {
        const char* pszErr = dlerror();
        m_strError = pszErr ? pszErr : "TavroFunc missing";
        dlclose(h);
        return EResult::ExportNotFound;
    }
    m_hPlugin = h;
    m_pfnProcess = reinterpret_cast<TAVROFUNC>(pSym);
    return EResult::Loaded;
}

void CPluginModule::Unload() {
    m_pfnProcess = nullptr;
    if (m_hPlugin != nullptr) {
        dlclose(m_hPlugin);
        m_hPlugin = nullptr;
    }
}
