// Loads and unloads the plug-in once: tavro_trace_probe PATH.
// Exit status 0 when both worked; otherwise 1 with the loader's message on
// standard output (standard error belongs to the plug-in's trace lines).
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: tavro_trace_probe PATH\n");
        return 1;
    }
    void* hModule = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!hModule) {
        std::printf("dlopen: %s\n", dlerror());
        return 1;
    }
    if (dlclose(hModule) != 0) {
        std::printf("dlclose: %s\n", dlerror());
        return 1;
    }
    return 0;
}
