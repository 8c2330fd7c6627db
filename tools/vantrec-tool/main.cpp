// vantrec-tool: scripts the engine, the decoders and the drive-data readers from the shell.
// Exit status 0 on success, 2 with a one-line message on stderr on failure.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "tools/vantrec-tool/command.h"

// In sanitizer builds: SDL keeps a per-thread error buffer for threads it did not create, and
// fontconfig keeps its configuration for the life of the process; neither is ours to free.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libfontconfig\n";
}

namespace vt::tool {
namespace {
struct Entry {
    const char *usage;
    CommandFn fn;
};
}  // namespace

// Commands by name, in name order for the usage text.
static std::map<std::string, Entry> &Registry() {
    static std::map<std::string, Entry> commands;
    return commands;
}

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

namespace {

// Some commands give their usage with their name, some without.
std::string UsageLine(const std::string &name, const char *usage) {
    const std::string u = usage;
    return u.compare(0, name.size() + 1, name + " ") == 0 || u == name ? u : name + " " + u;
}

void PrintUsage(FILE *out) {
    std::fprintf(
        out,
        "usage: vantrec-tool COMMAND ARGUMENTS...\n"
        "       vantrec-tool COMMAND --help\n       vantrec-tool --help | --version\ncommands:\n");
    for (const auto &[name, e] : vt::tool::Registry())
        std::fprintf(out, "  %s\n", UsageLine(name, e.usage).c_str());
}

}  // namespace

int main(int argc, char **argv) {
    using namespace vt::tool;
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("vantrec-tool %s\n", VT_VERSION);
        return 0;
    }
    auto it = Registry().find(first);
    if (it == Registry().end()) {
        std::fprintf(stderr, "vantrec-tool: unknown %s '%s'\n",
                     first[0] == '-' ? "option" : "command", first.c_str());
        PrintUsage(stderr);
        return 2;
    }
    if (argc == 3 && (std::strcmp(argv[2], "--help") == 0 || std::strcmp(argv[2], "-h") == 0)) {
        std::printf("usage: vantrec-tool %s\n", UsageLine(first, it->second.usage).c_str());
        return 0;
    }
    return it->second.fn(argc - 1, argv + 1);
}
