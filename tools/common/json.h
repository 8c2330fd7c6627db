#pragma once
// Minimal JSON and CSV text output for vantrec-tool: escaping and hex.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vt {

std::string JsonString(const std::string &s);  // quoted and escaped
std::string HexString(const uint8_t *data, size_t size);
// A CSV field: as it is, or quoted with inner quotes doubled when it holds a comma, a quote or a
// line break.
std::string CsvField(const std::string &s);

}  // namespace vt
