// vantrec-tool: scripts the engine, the decoders and the drive-data readers from the shell.
// Exit status 0 on success, 2 with a one-line message on stderr on failure.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "tools/vantrec-tool/command.h"

// In sanitizer builds: SDL keeps a per-thread error buffer for threads it did not create, and
// fontconfig keeps its configuration for the life of the process; neither is ours to free.
extern "C" const char *__lsan_default_suppressions() { return "leak:libSDL2\nleak:libfontconfig\n"; }

namespace vt::tool {
namespace {
struct Entry {
    const char *usage;
    CommandFn fn;
};
std::map<std::string, Entry> &Registry() {
    static std::map<std::string, Entry> commands;
    return commands;
}
}  // namespace

CommandReg::CommandReg(const char *name, const char *usage, CommandFn fn) {
    Registry()[name] = Entry{usage, fn};
}

int Fail(const std::string &message) {
    std::fprintf(stderr, "vantrec-tool: %s\n", message.c_str());
    return 2;
}

const char *Option(int argc, char **argv, const char *name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return nullptr;
}

bool HasFlag(int argc, char **argv, const char *name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace vt::tool

int main(int argc, char **argv) {
    using namespace vt::tool;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc < 2 ? stderr : stdout, "usage: vantrec-tool COMMAND ...\ncommands:\n");
        for (const auto &[name, e] : Registry())
            std::fprintf(argc < 2 ? stderr : stdout, "  %s %s\n", name.c_str(), e.usage);
        return argc < 2 ? 2 : 0;
    }
    auto it = Registry().find(argv[1]);
    if (it == Registry().end()) return Fail(std::string("unknown command '") + argv[1] + "'");
    return it->second.fn(argc - 1, argv + 1);
}
