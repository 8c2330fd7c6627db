#include "tests/common/testutil.h"

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace vt::test {

std::filesystem::path TestVectorsDir() {
    std::error_code ec;
    std::filesystem::path p(VT_TESTVECTORS_DIR);
    if (std::filesystem::is_directory(p, ec)) return std::filesystem::weakly_canonical(p, ec);
    return {};
}

std::filesystem::path TestVector(const std::string &relative) {
    auto dir = TestVectorsDir();
    if (dir.empty()) return {};
    auto p = dir / relative;
    std::error_code ec;
    return std::filesystem::exists(p, ec) ? p : std::filesystem::path();
}

std::filesystem::path SamplesDir() { return std::filesystem::path(VT_SOURCE_DIR) / "samples"; }

std::filesystem::path ToolPath() { return std::filesystem::path(VT_TOOL_PATH); }

bool HaveProgram(const std::string &name) {
    return Run("command -v " + Quote(name) + " >/dev/null 2>&1") == 0;
}

int Run(const std::string &command, std::string *stdout_text) {
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    int status = pclose(pipe);
    if (stdout_text) *stdout_text = std::move(out);
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::filesystem::path &p, const std::vector<uint8_t> &bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

TempDir::TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate = base / ("vt-test-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            m_path = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

}  // namespace vt::test
