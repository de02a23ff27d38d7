// This process's threads as /proc lists them: how many, and their names
// (for a failure message of a test that counts them).
#pragma once

#include <dirent.h>

#include <fstream>
#include <string>

namespace pelora_test {

// Calls fn(task id) for every thread of this process.
template <class Fn>
void ForEachThread(Fn fn) {
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') fn(std::string(e->d_name));
        closedir(d);
    }
}

inline int ThreadCount() {
    int n = 0;
    ForEachThread([&](const std::string&) { ++n; });
    return n;
}

inline std::string ThreadNames() {
    std::string names;
    ForEachThread([&](const std::string& id) {
        std::ifstream comm("/proc/self/task/" + id + "/comm");
        std::string name;
        std::getline(comm, name);
        names += name + ";";
    });
    return names;
}

}  // namespace pelora_test
