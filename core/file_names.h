// The files Kalvex reads and writes in its working directory, named once for every part
// that opens them.
#pragma once

inline constexpr const char* kImageFileName = "flash.bin";
inline constexpr const char* kCatalogFileName = "product.ini";
inline constexpr const char* kHostTableFileName = "kalvex.ini";
