#pragma once
// Helpers shared by the test suites: where the inputs are, scratch folders, running the reference
// tools (ffmpeg/ffprobe) and our own vantrec-tool.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vt::test {

// ../shared/testvectors beside the checkout; empty when the folder is absent.
std::filesystem::path TestVectorsDir();
std::filesystem::path TestVector(const std::string &relative);  // empty path when missing
std::filesystem::path SamplesDir();                             // samples/ in the checkout
std::filesystem::path ToolPath();                               // the built vantrec-tool

// True when the named program is on PATH.
bool HaveProgram(const std::string &name);

// Runs a shell command; returns its exit status and (optionally) what it printed on stdout.
int Run(const std::string &command, std::string *stdout_text = nullptr);

// Quotes a string for the shell.
std::string Quote(const std::string &s);

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path &p);
bool WriteFileBytes(const std::filesystem::path &p, const std::vector<uint8_t> &bytes);

// A fresh folder under the system temp dir, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return m_path; }
    std::filesystem::path operator/(const std::string &name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

}  // namespace vt::test
