#include "processing/run_flag.h"

#include <map>

#include "platform/win/std_mutex.h"

namespace {

CStdMutex g_mxRunFlags;  // guards g_runFlags
// Names to blocks; weak, so a name disappears with its last holder.
std::map<std::string, std::weak_ptr<std::atomic<LONG>>> g_runFlags GUARDED_BY(g_mxRunFlags);
std::atomic<unsigned> g_nRunFlagSerial{0};

}  // namespace

CRunFlag CRunFlag::Create(const std::string& strName, LONG nInitial) {
    CStdMutexLock lock(&g_mxRunFlags);
    CRunFlag flag;
    auto it = g_runFlags.find(strName);
    if (it != g_runFlags.end()) flag.m_pBlock = it->second.lock();
    if (!flag.m_pBlock) {
        flag.m_pBlock = std::make_shared<std::atomic<LONG>>(nInitial);
        g_runFlags[strName] = flag.m_pBlock;
    }
    // Drop names whose blocks are gone, so the table does not grow forever.
    for (auto i = g_runFlags.begin(); i != g_runFlags.end();) {
        if (i->second.expired())
            i = g_runFlags.erase(i);
        else
            ++i;
    }
    return flag;
}

CRunFlag CRunFlag::Open(const std::string& strName) {
    CStdMutexLock lock(&g_mxRunFlags);
    CRunFlag flag;
    auto it = g_runFlags.find(strName);
    if (it != g_runFlags.end()) flag.m_pBlock = it->second.lock();
    return flag;
}

std::string CRunFlag::NextName() {
    return "SHORIFLAG" + std::to_string(g_nRunFlagSerial.fetch_add(1) + 1);
}
