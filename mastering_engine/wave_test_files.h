// Builders of WAV files for the tests of the mastering engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sorvel::testing {

inline void PutLe32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline void PutLe16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v));
  out.push_back(static_cast<char>(v >> 8));
}

// A "fmt " chunk of `size` bytes (16, 18, 40, ...) describing the given PCM format.
inline std::string FmtChunk(uint32_t size = 16, uint16_t tag = 1, uint16_t channels = 2, uint32_t rate = 44100,
                            uint16_t bits = 16) {
  std::string out = "fmt ";
  PutLe32(out, size);
  PutLe16(out, tag);
  PutLe16(out, channels);
  PutLe32(out, rate);
  PutLe32(out, rate * channels * bits / 8);
  PutLe16(out, static_cast<uint16_t>(channels * bits / 8));
  PutLe16(out, bits);
  out.append(size - 16, '\0');
  if (size & 1) out.push_back('\0');
  return out;
}

// Any chunk; an odd size gets its pad byte.
inline std::string Chunk(const std::string& id, const std::string& body) {
  std::string out = id;
  PutLe32(out, static_cast<uint32_t>(body.size()));
  out += body;
  if (body.size() & 1) out.push_back('\0');
  return out;
}

// Deterministic PCM bytes that differ from sector to sector.
inline std::string Pcm(size_t bytes, uint32_t seed = 1) {
  std::string out(bytes, '\0');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < bytes; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<char>(x >> 16);
  }
  return out;
}

// "RIFF" size "WAVE" followed by the chunks.
inline std::string Riff(const std::string& chunks) {
  std::string out = "RIFF";
  PutLe32(out, static_cast<uint32_t>(chunks.size() + 4));
  return out + "WAVE" + chunks;
}

// A plain CD-DA WAV file of the given PCM.
inline std::string CdWave(const std::string& pcm) { return Riff(FmtChunk() + Chunk("data", pcm)); }

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace sorvel::testing
