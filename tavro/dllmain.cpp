// Module entry of Tavro.so: runs when the dynamic loader maps the library
// (dlopen, or program start for a linked copy) and when it unmaps it
// (dlclose, or process exit).
//
// There is nothing to register at load: the library keeps no per-module
// record and no global data, so loading cannot fail here. All the entry
// does is write the two trace lines on standard error, with source file and
// line, in debug builds (NDEBUG not defined) and in any build when the
// environment variable PELORA_TRACE is set (to any value).

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool TraceEnabled() {
#ifndef NDEBUG
    return true;
#else
    return std::getenv("PELORA_TRACE") != nullptr;
#endif
}

// One fwrite per line, so a trace line is never split by another thread's
// output on the unbuffered stderr.
void TraceLine(const char* pszFile, int nLine, const char* pszText) {
    if (!TraceEnabled()) return;
    const char* pszSlash = std::strrchr(pszFile, '/');
    const char* pszName = pszSlash ? pszSlash + 1 : pszFile;
    char szLine[512];
    int nLength = std::snprintf(szLine, sizeof szLine, "%s(%d) : %s", pszName, nLine, pszText);
    if (nLength <= 0) return;
    if (static_cast<size_t>(nLength) >= sizeof szLine) nLength = sizeof szLine - 1;
    std::fwrite(szLine, 1, static_cast<size_t>(nLength), stderr);
}

#define TAVRO_TRACE(text) TraceLine(__FILE__, __LINE__, text)

__attribute__((constructor)) void TavroProcessAttach() { TAVRO_TRACE("Tavro.DLL Initializing!\n"); }

__attribute__((destructor)) void TavroProcessDetach() { TAVRO_TRACE("Tavro.DLL Terminating!\n"); }

}  // namespace
