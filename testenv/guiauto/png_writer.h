// A minimal PNG writer (8-bit RGB, stored deflate blocks) for test screenshots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace guiauto {

// rgb holds width * height pixels, 3 bytes each, top row first.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace guiauto
