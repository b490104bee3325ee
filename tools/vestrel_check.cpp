// vestrel-check: loads a parameter file exactly as the plug-in does at
// start-up, in a host with no users, and prints the report and every
// problem. Exit status: 0 clean, 1 some line was reported, 2 the load failed.
#include <cstdio>
#include <cstring>
#include <string>

#include "host.h"
#include "plugin_path.h"

namespace
{

int usage()
{
    std::fprintf(stderr, "usage: vestrel-check [--plugin <vestrel.so>] <parameter-file>\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string plugin = defaultPluginPath(argv[0]);
    std::string file;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
            plugin = argv[++i];
        else if (argv[i][0] == '-' || !file.empty())
            return usage();
        else
            file = argv[i];
    }
    if (file.empty())
        return usage();

    vh::Host host;
    bool started = host.loadPlugin(plugin, file);
    const std::string tag = "log [vestrel]: ";
    bool problem = false;
    bool loadFailed = !started;
    for (const std::string &line : host.transcript()) {
        if (line.rfind(tag, 0) != 0) {
            if (line.rfind("host: ", 0) == 0 && line != "host: plug-in failed to start")
                std::printf("%s\n", line.c_str());
            continue;
        }
        std::string text = line.substr(tag.size());
        if (text.rfind("vestrel version ", 0) == 0)
            continue;
        if (text.rfind("Problem ", 0) == 0)
            problem = true;
        std::printf("%s\n", text.c_str());
    }
    if (started)
        host.shutdown();
    if (loadFailed) {
        std::printf("vestrel-check: %s did not load\n", file.c_str());
        return 2;
    }
    if (problem) {
        std::printf("vestrel-check: %s loaded with problems\n", file.c_str());
        return 1;
    }
    std::printf("vestrel-check: %s is clean\n", file.c_str());
    return 0;
}
