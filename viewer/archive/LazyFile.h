// An archive item handed out before it is extracted whole. A decoder tells
// from a few bytes that an item is no page of its kind, and an item of a
// gigabyte of zeros took seconds and its size in memory to extract before
// any decoder looked at it. So an item larger than its head comes with
// only its first bytes, from an extraction stopped there: reads within them
// are served from them, and the first read past them extracts the item
// whole, once, through the route's own extraction (its check included).
#pragma once

#include <functional>
#include <string>

#include "viewer/archive/MemoryFile.h"

// The first bytes an item comes with: more than any decoder here reads to
// tell its kind (Qt's readers peek within 16 KiB).
constexpr uint32_t kHeadBytes = 16u << 10;

// Extracts the item whole as a new file in *out: 0, or 1 when it does not
// extract.
using WholeExtraction = std::function<int32_t(IFile** out)>;

class CLazyFile final : public CUnknownImpl<IFile>, public IFileDamage {
 public:
  // `head`: the item's first bytes; `claimedSize`: its size as the archive
  // lists it, more than the head (what the file's size is until the item
  // is extracted whole).
  CLazyFile(ExtractedBytes head, uint64_t claimedSize, WholeExtraction extract)
      : m_head(std::move(head)), m_size(claimedSize), m_extract(std::move(extract)) {}
  // IFileDamage answers once the item has been extracted whole and is not:
  // before that nothing is known of the rest of its bytes.
  HRESULT QueryInterface(REFIID riid, void** out) override;
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override;
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override;
  int32_t GetSize(uint64_t* size) override;
  const char16_t* Damage() override { return m_damage.c_str(); }
  // The item's file once a read has extracted it whole; null before, or
  // when it did not extract.
  IFile* extracted() const { return m_whole.get(); }

 private:
  // The whole item, extracted on the first call; null when it did not
  // extract.
  IFile* Whole();

  ExtractedBytes m_head;
  uint64_t m_size;
  WholeExtraction m_extract;  // dropped once run: it holds the archive
  ComRef<IFile> m_whole;
  std::u16string m_damage;
  uint64_t m_position = 0;
};

// Hands out a new CLazyFile in *out (0); 1 when there is no memory for it.
int32_t HandOutLazy(ExtractedBytes head, uint64_t claimedSize, WholeExtraction extract, IFile** out);
