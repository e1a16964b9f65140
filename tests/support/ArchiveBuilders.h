// Small archive writers for what this machine has no tool to make: LZH
// (stored, header levels 0 and 2), RAR 4 (stored), and Zip with names and
// sizes exactly as given (raw bytes, claims that lie), quickly and in
// memory even for a hundred thousand entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

inline void PutLE(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// CRC-16/ARC, as LZH stores it.
inline uint16_t Crc16(const std::string& data) {
  uint16_t crc = 0;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>((crc >> 1) ^ ((crc & 1) ? 0xA001 : 0));
  }
  return crc;
}

// CRC-32 (zlib's), as RAR stores it.
inline uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

struct LzhEntry {
  std::string name;  // bytes as stored (Shift-JIS allowed); level 0: "\\" separates folders
  std::string data;
  int level = 0;     // 0 or 2
  bool folder = false;  // a -lhd- entry (level 2 only); name is the folder path
};

inline std::string LzhArchive(const std::vector<LzhEntry>& entries) {
  std::string out;
  for (const LzhEntry& e : entries) {
    const std::string method = e.folder ? "-lhd-" : "-lh0-";
    const std::string& data = e.folder ? std::string() : e.data;
    if (e.level == 0) {
      std::string h = method;
      PutLE(h, data.size(), 4);
      PutLE(h, data.size(), 4);
      PutLE(h, 0x5A210000u, 4);  // DOS time
      h.push_back(0x20);         // attribute
      h.push_back(0);            // level
      h.push_back(static_cast<char>(e.name.size()));
      h += e.name;
      PutLE(h, Crc16(data), 2);
      unsigned sum = 0;
      for (unsigned char c : h) sum += c;
      out.push_back(static_cast<char>(h.size()));
      out.push_back(static_cast<char>(sum & 0xFF));
      out += h;
    } else {
      // Extended headers: file name (1) and folder (2, 0xFF-separated).
      std::string folder, file = e.name;
      const std::size_t slash = e.name.rfind('/');
      if (e.folder) {
        folder = e.name, file.clear();
      } else if (slash != std::string::npos) {
        folder = e.name.substr(0, slash), file = e.name.substr(slash + 1);
      }
      std::vector<std::string> extensions;
      extensions.push_back(std::string(1, '\x01') + file);
      if (!folder.empty()) {
        for (char& c : folder)
          if (c == '/') c = '\xFF';
        extensions.push_back(std::string(1, '\x02') + folder + '\xFF');
      }
      std::string ext;
      std::string h = method;
      PutLE(h, data.size(), 4);
      PutLE(h, data.size(), 4);
      PutLE(h, 1700000000u, 4);  // Unix time
      h.push_back(0x20);
      h.push_back(2);
      PutLE(h, Crc16(data), 2);
      h.push_back('U');
      std::size_t total = 26;
      for (const std::string& x : extensions) total += x.size() + 2;
      PutLE(h, extensions[0].size() + 2, 2);
      for (std::size_t i = 0; i < extensions.size(); ++i) {
        h += extensions[i];
        PutLE(h, i + 1 < extensions.size() ? extensions[i + 1].size() + 2 : 0, 2);
      }
      std::string header;
      PutLE(header, total, 2);
      out += header + h;
    }
    out += data;
  }
  out.push_back(0);  // end of archive
  return out;
}

struct RarEntry {
  std::string name;  // "\\"-separated, as Windows RAR stores it
  std::string data;
  bool compressed = false;  // claims method 0x33 (this machine's library cannot unpack it)
  bool wrongCrc = false;    // stores a data CRC that does not match
};

// A RAR 4 archive with correct header CRCs.
inline std::string RarArchive(const std::vector<RarEntry>& entries) {
  std::string out("Rar!\x1A\x07\x00", 7);
  auto block = [&](std::string body) {  // body: from the type byte on
    std::string b;
    PutLE(b, Crc32(body) & 0xFFFF, 2);
    out += b + body;
  };
  std::string main;
  main.push_back(0x73);
  PutLE(main, 0, 2);   // flags
  PutLE(main, 13, 2);  // size
  PutLE(main, 0, 2);
  PutLE(main, 0, 4);
  block(main);
  for (const RarEntry& e : entries) {
    std::string h;
    h.push_back(0x74);
    PutLE(h, 0x8000, 2);  // long block: data follows
    PutLE(h, 32 + e.name.size(), 2);
    PutLE(h, e.data.size(), 4);  // packed
    PutLE(h, e.data.size(), 4);  // unpacked
    h.push_back(2);               // Windows
    PutLE(h, Crc32(e.data) ^ (e.wrongCrc ? 1u : 0u), 4);
    PutLE(h, 0x5A210000u, 4);
    h.push_back(29);
    h.push_back(e.compressed ? 0x33 : 0x30);
    PutLE(h, e.name.size(), 2);
    PutLE(h, 0x20, 4);
    h += e.name;
    block(h);
    out += e.data;
  }
  out += std::string("\xC4\x3D\x7B\x00\x40\x07\x00", 7);
  return out;
}

struct ZipEntry {
  std::string name;  // bytes as stored; a folder's ends in "/"
  std::string data;
  uint64_t claimedSize = UINT64_MAX;  // the sizes the headers state, when not the data's
};

// A Zip archive of stored entries, names flagged as neither UTF-8 nor
// anything else: raw bytes.
inline std::string ZipArchive(const std::vector<ZipEntry>& entries) {
  std::string out, central;
  for (const ZipEntry& e : entries) {
    const uint64_t size = e.claimedSize == UINT64_MAX ? e.data.size() : e.claimedSize;
    std::string common;
    PutLE(common, 10, 2);  // version needed
    PutLE(common, 0, 2);   // flags
    PutLE(common, 0, 2);   // stored
    PutLE(common, 0x5A210000u, 4);
    PutLE(common, Crc32(e.data), 4);
    PutLE(common, size, 4);
    PutLE(common, size, 4);
    PutLE(common, e.name.size(), 2);
    PutLE(common, 0, 2);  // extra
    std::string c("PK\x01\x02", 4);
    PutLE(c, 20, 2);  // made by
    c += common;
    PutLE(c, 0, 2);  // comment
    PutLE(c, 0, 2);  // disk
    PutLE(c, 0, 2);  // internal attributes
    PutLE(c, e.name.size() && e.name.back() == '/' ? 0x10 : 0x20, 4);
    PutLE(c, out.size(), 4);
    central += c + e.name;
    out += std::string("PK\x03\x04", 4) + common + e.name + e.data;
  }
  std::string end("PK\x05\x06", 4);
  PutLE(end, 0, 4);
  PutLE(end, entries.size(), 2);
  PutLE(end, entries.size(), 2);
  PutLE(end, central.size(), 4);
  PutLE(end, out.size(), 4);
  PutLE(end, 0, 2);
  return out + central + end;
}

}  // namespace test
