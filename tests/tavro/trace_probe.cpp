// Loads and unloads the plug-in once: tavro_trace_probe PATH. Exit status 0
// when both worked; the plug-in writes its trace lines to standard error.
#include <dlfcn.h>

int main(int argc, char** argv) {
    void* hModule = argc == 2 ? dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) : nullptr;
    return hModule && dlclose(hModule) == 0 ? 0 : 1;
}
