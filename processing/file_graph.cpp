#include "processing/file_graph.h"

#include <atomic>

// The real graph (processing/media_file_graph.cpp), or null when the
// program was built without the grab renderer.
std::unique_ptr<IFileGraph> CreateMediaFileGraph(void* hwndOwner);

namespace {
std::atomic<PFNCREATEFILEGRAPH> g_pfnCreateFileGraph{nullptr};
}

std::unique_ptr<IFileGraph> CreateFileGraph(void* hwndOwner) {
    if (PFNCREATEFILEGRAPH pfn = g_pfnCreateFileGraph.load()) return pfn(hwndOwner);
    return CreateMediaFileGraph(hwndOwner);
}

void SetFileGraphFactory(PFNCREATEFILEGRAPH pfnCreate) { g_pfnCreateFileGraph.store(pfnCreate); }
