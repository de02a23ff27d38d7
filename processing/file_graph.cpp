#include "processing/file_graph.h"

#include <atomic>

namespace {
std::atomic<PFNCREATEFILEGRAPH> g_pfnCreateFileGraph{nullptr};
}

std::unique_ptr<IFileGraph> CreateFileGraph(void* hwndOwner) {
    if (PFNCREATEFILEGRAPH pfn = g_pfnCreateFileGraph.load()) return pfn(hwndOwner);
    return CreateMediaFileGraph(hwndOwner);
}

void SetFileGraphFactory(PFNCREATEFILEGRAPH pfnCreate) { g_pfnCreateFileGraph.store(pfnCreate); }
