// Small archive writers for what this machine has no tool to make: LZH
// (stored, header levels 0 and 2), RAR 4 (stored), and Zip with names and
// sizes exactly as given (raw bytes, claims that lie), quickly and in
// memory even for a hundred thousand entries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
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
  int level = 0;     // 0, 2 or 3 (level 3: files only)
  bool folder = false;  // a -lhd- entry (level 2 only); name is the folder path
};

inline std::string LzhArchive(const std::vector<LzhEntry>& entries) {
  std::string out;
  for (const LzhEntry& e : entries) {
    const std::string method = e.folder ? "-lhd-" : "-lh0-";
    const std::string& data = e.folder ? std::string() : e.data;
    if (e.level == 3) {
      // 32-bit sizes throughout: the word size, the fixed part, then the
      // file name extension (its size counts its type and the next size).
      std::string h;
      PutLE(h, 4, 2);
      h += method;
      PutLE(h, data.size(), 4);
      PutLE(h, data.size(), 4);
      PutLE(h, 1700000000u, 4);
      h.push_back(0x20);
      h.push_back(3);
      PutLE(h, Crc16(data), 2);
      h.push_back('U');
      // The header's CRC (taken with its own field zero), then the name.
      const std::size_t crcExtension = 1 + 2 + 4, nameExtension = 1 + e.name.size() + 4;
      PutLE(h, 32 + crcExtension + nameExtension, 4);  // the whole header
      PutLE(h, crcExtension, 4);
      h.push_back(0);
      const std::size_t crcAt = h.size();
      PutLE(h, 0, 2);
      PutLE(h, nameExtension, 4);
      h.push_back(1);
      h += e.name;
      PutLE(h, 0, 4);
      const uint16_t crc = Crc16(h);
      h[crcAt] = static_cast<char>(crc & 0xFF);
      h[crcAt + 1] = static_cast<char>(crc >> 8);
      out += h;
    } else if (e.level == 0) {
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

// Bits written first-bit-highest, as RAR's decoders read them.
// Whole bytes go out as they fill: megabytes of pages are written bit by
// bit in the sanitizer builds too.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    m_pending = (m_pending << bits) | (value & ((uint64_t{1} << bits) - 1));
    m_count += bits;
    while (m_count >= 8) {
      m_count -= 8;
      m_bytes.push_back(static_cast<char>((m_pending >> m_count) & 0xFF));
    }
    m_pending &= (uint64_t{1} << m_count) - 1;
  }
  // The bits so far, the last byte filled with zeros.
  std::string bytes() const {
    std::string out = m_bytes;
    if (m_count > 0) out.push_back(static_cast<char>((m_pending << (8 - m_count)) & 0xFF));
    return out;
  }

 private:
  std::string m_bytes;
  uint64_t m_pending = 0;  // the bits not yet in a whole byte
  int m_count = 0;         // how many
};

// The Huffman tables of RAR's LZ coders (RAR 2.9 and RAR 5 share the
// scheme), made so that only literals exist: `tableSize` is the length
// table's size (404 for RAR 2.9, 430 for RAR 5). Without an end symbol
// each byte b is 8 bits long and its code is b itself. With one (RAR 2.9
// ends a file with symbol 256), symbol 256 is "0" and byte b is "1" and b.
// Precode: the one or two lengths used, and 19 ("that many zeros", 7 bits
// + 11).
inline void PutLiteralTables(BitWriter& bits, int tableSize, bool endSymbol) {
  const int literal = endSymbol ? 9 : 8;
  for (int i = 0; i < 20; ++i) {
    int length = 0;
    if (i == literal) length = 1;
    if (i == 19 || (endSymbol && i == 1)) length = endSymbol ? 2 : 1;
    bits.Put(static_cast<uint32_t>(length), 4);
  }
  // Canonical codes: shorter first, then by symbol.
  const auto putLiteral = [&] { bits.Put(0, 1); };
  const auto putZeros = [&](int run) {
    bits.Put(endSymbol ? 3 : 1, endSymbol ? 2 : 1);
    bits.Put(static_cast<uint32_t>(run - 11), 7);
  };
  for (int i = 0; i < 256; ++i) putLiteral();
  int zeros = tableSize - 256;
  if (endSymbol) {
    bits.Put(2, 2);  // symbol 256: length 1
    --zeros;
  }
  while (zeros > 0) {
    int run = std::min(zeros, 138);  // runs of 11..138; never leave fewer than 11
    if (zeros - run > 0 && zeros - run < 11) run = zeros - 11;
    putZeros(run);
    zeros -= run;
  }
}

struct RarEntry {
  std::string name;  // "\\"-separated, as Windows RAR stores it
  std::string data;
  bool compressed = false;  // claims method 0x33 (this machine's library cannot unpack it)
  bool wrongCrc = false;    // stores a data CRC that does not match
  bool literal = false;     // really compressed (method 0x33): RAR 2.9 LZ, literals only
  bool encrypted = false;   // flagged as encrypted (the bytes are not)
  // When not empty: the name in Unicode, stored after `name` (then the
  // name in the old code page, '?' for what it lacks), as RAR 3 and later
  // store names beyond ASCII. Each unit written whole, as two bytes.
  std::u16string wide = {};
  // Its data goes on in the next volume: only the first `continues` bytes
  // of it are in this one, which says it is a volume. Stored entries only.
  std::size_t continues = 0;
  // When set: these packed bytes, as method 0x33, stand for `data`, which
  // is then only what the header claims (its size; its CRC).
  std::optional<std::string> packed = std::nullopt;
  uint64_t claimedSize = UINT64_MAX;  // the unpacked size the header states, when not the data's
};

// `data` packed as RAR 2.9 LZ of literals only, with tables of its own.
inline std::string RarLiterals(const std::string& data, bool solid) {
  BitWriter bits;
  bits.Put(0, 1);  // LZ, not PPMd
  bits.Put(0, 1);  // fresh tables
  PutLiteralTables(bits, 404, true);
  for (unsigned char c : data) bits.Put(0x100u | c, 9);
  bits.Put(0, 1);  // symbol 256: the file ends here
  // "01": a new file, and (in a solid archive) it reads tables of its
  // own, as each entry here brings them; "00" would keep these.
  bits.Put(solid ? 1 : 0, 2);
  return bits.bytes();
}

// A RAR 4 archive with correct header CRCs; `solid` marks the archive and
// every entry after the first as continuing the one before.
inline std::string RarArchive(const std::vector<RarEntry>& entries, bool solid = false) {
  std::string out("Rar!\x1A\x07\x00", 7);
  auto block = [&](std::string body) {  // body: from the type byte on
    std::string b;
    PutLE(b, Crc32(body) & 0xFFFF, 2);
    out += b + body;
  };
  const bool volume = std::any_of(entries.begin(), entries.end(), [](const RarEntry& e) { return e.continues > 0; });
  std::string main;
  main.push_back(0x73);
  PutLE(main, (solid ? 0x0008 : 0) | (volume ? 0x0101 : 0), 2);  // flags; a volume, the first
  PutLE(main, 13, 2);  // size
  PutLE(main, 0, 2);
  PutLE(main, 0, 4);
  block(main);
  bool first = true;
  for (const RarEntry& e : entries) {
    std::string packed = e.packed ? *e.packed : e.continues > 0 ? e.data.substr(0, e.continues) : e.data;
    if (e.literal && !e.packed) packed = RarLiterals(e.data, solid);
    std::string h;
    h.push_back(0x74);
    std::string name = e.name;
    if (!e.wide.empty()) {
      name.push_back('\0');
      name.push_back('\0');  // the high byte units may share: unused here
      for (std::size_t i = 0; i < e.wide.size(); i += 4) {
        std::string units;
        uint8_t flags = 0;
        for (std::size_t j = 0; j < 4 && i + j < e.wide.size(); ++j) {
          flags = static_cast<uint8_t>(flags | 2u << (6 - 2 * j));  // 2: both bytes follow, low first
          PutLE(units, e.wide[i + j], 2);
        }
        name += static_cast<char>(flags) + units;
      }
    }
    PutLE(h,
          0x8000 | (e.encrypted ? 0x04 : 0) | (solid && !first ? 0x10 : 0) | (e.wide.empty() ? 0 : 0x200) |
              (e.continues > 0 ? 0x02 : 0),
          2);  // long block: data follows
    first = false;
    PutLE(h, 32 + name.size(), 2);
    PutLE(h, packed.size(), 4);  // packed
    const uint64_t unpacked = e.claimedSize == UINT64_MAX ? e.data.size() : e.claimedSize;
    PutLE(h, unpacked, 4);  // unpacked
    h.push_back(2);               // Windows
    PutLE(h, Crc32(e.data) ^ (e.wrongCrc ? 1u : 0u), 4);
    PutLE(h, 0x5A210000u, 4);
    h.push_back(29);
    h.push_back(e.compressed || e.literal || e.packed ? 0x33 : 0x30);
    PutLE(h, name.size(), 2);
    PutLE(h, 0x20, 4);
    h += name;
    block(h);
    out += packed;
  }
  out += std::string("\xC4\x3D\x7B\x00\x40\x07\x00", 7);
  return out;
}

// A set of RAR 4 volumes (new naming: the first flagged as first) holding
// stored entries (`literal` ones compressed), `perVolume` packed bytes in
// each volume but the last; an entry that does not fit goes on in the next
// volume, its part there flagged as continued. `solid` marks the set, and
// every entry after the first as continuing the one before.
inline std::vector<std::string> RarVolumeSet(const std::vector<RarEntry>& entries, std::size_t perVolume,
                                             bool solid = false) {
  std::vector<std::string> volumes;
  std::string out;
  auto block = [&](std::string body) {
    std::string b;
    PutLE(b, Crc32(body) & 0xFFFF, 2);
    out += b + body;
  };
  auto begin = [&] {
    out.assign("Rar!\x1A\x07\x00", 7);
    std::string main;
    main.push_back(0x73);
    PutLE(main, 0x0001 | 0x0010 | (volumes.empty() ? 0x0100 : 0) | (solid ? 0x0008 : 0), 2);  // volume, new naming, first
    PutLE(main, 13, 2);
    PutLE(main, 0, 2);
    PutLE(main, 0, 4);
    block(main);
  };
  auto end = [&](bool more) {
    std::string tail;
    tail.push_back(0x7B);
    PutLE(tail, 0x4000 | (more ? 0x0001 : 0), 2);
    PutLE(tail, 7, 2);
    block(tail);
    volumes.push_back(out);
  };
  begin();
  std::size_t room = perVolume;
  for (const RarEntry& e : entries) {
    const std::string packed = e.literal ? RarLiterals(e.data, solid) : e.data;
    for (std::size_t at = 0, part = 0;; ++part) {
      const std::size_t size = std::min(room, packed.size() - at);
      const bool after = at + size < packed.size();
      const std::string piece = packed.substr(at, size);
      std::string h;
      h.push_back(0x74);
      PutLE(h, 0x8000 | (part > 0 ? 0x01 : 0) | (after ? 0x02 : 0) | (solid && &e != &entries.front() ? 0x10 : 0), 2);
      PutLE(h, 32 + e.name.size(), 2);
      PutLE(h, piece.size(), 4);
      PutLE(h, e.data.size(), 4);
      h.push_back(2);
      PutLE(h, Crc32(after ? piece : e.data), 4);  // a part's own, the whole file's in its last
      PutLE(h, 0x5A210000u, 4);
      h.push_back(29);
      h.push_back(e.literal ? 0x33 : 0x30);
      PutLE(h, e.name.size(), 2);
      PutLE(h, 0x20, 4);
      h += e.name;
      block(h);
      out += piece;
      at += size;
      room -= size;
      if (!after) break;
      end(true);
      begin();
      room = perVolume;
    }
  }
  end(false);
  return volumes;
}

// RAR 5's variable-length integers: 7 bits a byte, low first.
inline void PutVint(std::string& out, uint64_t value) {
  do {
    const auto low = static_cast<char>(value & 0x7F);
    value >>= 7;
    out.push_back(static_cast<char>(low | (value ? 0x80 : 0)));
  } while (value != 0);
}

struct Rar5Entry {
  std::string name;  // UTF-8, "/"-separated
  std::string data;
  bool folder = false;
  bool compressed = true;   // LZ with literals only; else stored
  bool encrypted = false;   // carries an encryption record; the bytes are scrambled
  bool damaged = false;     // the compressed bytes are spoilt after the tables
  // Its data goes on in the next volume: only the first `continues` bytes
  // of it are in this one, which says it is a volume. Stored entries only.
  std::size_t continues = 0;
  std::string hardLink = {};  // when set: a hard link to this entry's name, with no data of its own
};

// A RAR 5 archive; `solid` marks the archive and every compressed entry
// after the first as continuing the previous one's window. With
// `headersEncrypted` an archive encryption header follows the signature and
// everything after it is noise, as the headers of an archive made with a
// password for its list are to whoever has none.
inline std::string Rar5Archive(const std::vector<Rar5Entry>& entries, bool solid = false,
                               bool headersEncrypted = false) {
  std::string out("Rar!\x1A\x07\x01\x00", 8);
  auto block = [&](const std::string& body) {
    std::string size;
    PutVint(size, body.size());
    PutLE(out, Crc32(size + body), 4);
    out += size + body;
  };
  std::size_t scrambledFrom = std::string::npos;
  if (headersEncrypted) {
    std::string crypt;
    PutVint(crypt, 4);  // archive encryption header
    PutVint(crypt, 0);
    PutVint(crypt, 0);  // AES-256
    PutVint(crypt, 0);  // no password check
    crypt.push_back(15);  // KDF count
    crypt += std::string(16, '\x22');  // salt
    block(crypt);
    scrambledFrom = out.size();
  }
  const bool volume = std::any_of(entries.begin(), entries.end(), [](const Rar5Entry& e) { return e.continues > 0; });
  std::string main;
  PutVint(main, 1);  // main header
  PutVint(main, 0);
  PutVint(main, (solid ? 0x0004 : 0) | (volume ? 0x0001 : 0));
  block(main);
  bool first = true;
  for (const Rar5Entry& e : entries) {
    std::string data;
    const bool link = !e.hardLink.empty();
    if (link) {
    } else if (!e.folder && e.compressed) {
      BitWriter bits;
      PutLiteralTables(bits, 430, false);
      for (unsigned char c : e.data) bits.Put(c, 8);
      std::string body = bits.bytes();  // a whole number of bytes: 20 nibbles, 272 + 8n bits
      // Spoilt after the tables; an encrypted entry is noise throughout.
      for (std::size_t i = e.encrypted ? 0 : 44; (e.damaged || e.encrypted) && i < body.size(); i += e.encrypted ? 1 : 3)
        body[i] = static_cast<char>(body[i] ^ 0x5A);
      const uint32_t size = static_cast<uint32_t>(body.size());
      const int sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
      const auto flags = static_cast<uint8_t>(0x80 | 0x40 | ((sizeBytes - 1) << 3) | 7);  // tables, last, all 8 bits
      uint8_t check = 0x5A ^ flags;
      for (int i = 0; i < sizeBytes; ++i) check ^= static_cast<uint8_t>(size >> (8 * i));
      data.push_back(static_cast<char>(flags));
      data.push_back(static_cast<char>(check));
      PutLE(data, size, sizeBytes);
      data += body;
    } else if (!e.folder) {
      data = e.continues > 0 ? e.data.substr(0, e.continues) : e.data;
    }
    std::string extra;
    if (link) {
      std::string record;
      PutVint(record, 0x05);  // redirection
      PutVint(record, 4);     // hard link
      PutVint(record, 0);
      PutVint(record, e.hardLink.size());
      record += e.hardLink;
      PutVint(extra, record.size());
      extra += record;
    }
    if (e.encrypted) {
      std::string record;
      PutVint(record, 0x01);  // encryption
      PutVint(record, 0);     // AES-256
      PutVint(record, 0);     // no password check
      record.push_back(15);   // KDF count
      record += std::string(32, '\x11');  // salt and IV
      PutVint(extra, record.size());
      extra += record;
    }
    std::string h;
    PutVint(h, 2);  // file header
    PutVint(h, 0x0002 | (extra.empty() ? 0 : 0x0001) | (e.continues > 0 ? 0x0010 : 0));  // a data area, empty for folders
    if (!extra.empty()) PutVint(h, extra.size());
    PutVint(h, data.size());
    PutVint(h, e.folder ? 0x0001 : link ? 0 : 0x0004);  // folder, or CRC32 present
    PutVint(h, e.folder || link ? 0 : e.data.size());
    PutVint(h, e.folder ? 0x10 : 0x20);
    if (!e.folder && !link) PutLE(h, Crc32(e.data), 4);
    uint64_t method = 0;
    if (!e.folder && !link && e.compressed) {
      method = 3u << 7;
      if (solid && !first) method |= 0x40;
      first = false;
    }
    PutVint(h, method);
    PutVint(h, 0);  // Windows
    PutVint(h, e.name.size());
    h += e.name + extra;
    block(h);
    out += data;
  }
  std::string end;
  PutVint(end, 5);
  PutVint(end, 0);
  PutVint(end, 0);
  block(end);
  if (scrambledFrom != std::string::npos) {
    for (std::size_t i = scrambledFrom; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ (0x5A + i * 7));
    out.insert(scrambledFrom, std::string(16, '\x33'));  // the first header's IV
  }
  return out;
}

struct ZipEntry {
  std::string name;  // bytes as stored; a folder's ends in "/"
  std::string data;
  uint64_t claimedSize = UINT64_MAX;  // the sizes the headers state, when not the data's
};

// A Zip archive of stored entries, names flagged as neither UTF-8 nor
// anything else: raw bytes. `padding` zero bytes go before each local
// header, which the central directory points past.
inline std::string ZipArchive(const std::vector<ZipEntry>& entries, std::size_t padding = 0) {
  std::string out, central;
  for (const ZipEntry& e : entries) {
    out += std::string(padding, '\0');
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
