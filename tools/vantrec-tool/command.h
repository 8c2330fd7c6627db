#pragma once
// Command registry of vantrec-tool. Each cmd_*.cpp defines one command and registers it with
// VT_TOOL_COMMAND; main() dispatches on the first argument.
#include <string>

namespace vt::tool {

// argv[0] is the command's name, the rest its arguments. Returns the process exit status.
using CommandFn = int (*)(int argc, char **argv);

struct CommandReg {
    CommandReg(const char *name, const char *usage, CommandFn fn);
};

// Prints "vantrec-tool: <message>" on stderr and returns the failure status (2).
int Fail(const std::string &message);

// Value of "--name VALUE" in argv, or nullptr; "--name" alone is reported by HasFlag.
const char *Option(int argc, char **argv, const char *name);
bool HasFlag(int argc, char **argv, const char *name);

}  // namespace vt::tool

#define VT_TOOL_COMMAND(name, usage, fn) \
    static const ::vt::tool::CommandReg vt_tool_reg_##fn(name, usage, fn)
