#include <memory>

#include "processing/file_graph.h"

#ifndef PELORA_HAVE_GRAB_RENDERER
// Built without the grab renderer: there is no file graph to make.
std::unique_ptr<IFileGraph> CreateDirectShowFileGraph(void*) { return nullptr; }
#endif
