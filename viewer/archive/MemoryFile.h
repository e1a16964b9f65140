// The in-memory file every archive route hands out for an extracted item.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/FileDamage.h"
#include "ordel/FileSystem.h"
#include "platform/system.h"

// The bytes of one extracted item. Once handed out they no longer change:
// files opened on the same item of a solid archive share them, each with
// its own position.
using ExtractedBytes = std::shared_ptr<std::vector<BYTE>>;

// A seek in a file of `size` bytes from `origin` (0: its start, 1: the
// position, 2: its end). The position is kept even out of range, where
// reads then give 0 bytes; that is a failure.
int32_t SeekIn(uint64_t size, uint64_t& position, int64_t distance, uint32_t origin, uint64_t* newPosition);

// One extracted item in memory, with its own read position. An item that
// did not extract whole carries why (IFileDamage answers only then).
class CFile final : public CUnknownImpl<IFile>, public IFileDamage {
 public:
  explicit CFile(ExtractedBytes bytes, std::u16string damage = {})
      : m_bytes(std::move(bytes)), m_damage(std::move(damage)) {}
  HRESULT QueryInterface(REFIID riid, void** out) override;
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override;
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override;
  int32_t GetSize(uint64_t* size) override;
  const char16_t* Damage() override { return m_damage.c_str(); }

  const std::vector<BYTE>& bytes() const { return *m_bytes; }

 private:
  ExtractedBytes m_bytes;
  const std::u16string m_damage;
  uint64_t m_position = 0;
};

// Hands `bytes` out as a new CFile in *out (0), trimming spare capacity
// first; 1 when there is no memory for it. `damage`: why they are not the
// whole item, when they are not.
int32_t HandOutExtracted(ExtractedBytes bytes, IFile** out, std::u16string damage = {});
// The same for bytes that others may be reading: handed out as they are.
int32_t HandOutShared(ExtractedBytes bytes, IFile** out, std::u16string damage = {});
// Bytes the routes have extracted in this process so far, counted as they
// come: what shows that an item was not extracted whole.
uint64_t ExtractedByteCount();
void CountExtracted(uint64_t bytes);
// Gives back spare room that growth by doubling left, where it is worth it.
void TrimSpareCapacity(std::vector<BYTE>& bytes);
