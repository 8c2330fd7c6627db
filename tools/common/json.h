#pragma once
// Minimal JSON text output for vantrec-tool: escaping and hex.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vt {

std::string JsonString(const std::string &s);  // quoted and escaped
std::string HexString(const uint8_t *data, size_t size);

}  // namespace vt
