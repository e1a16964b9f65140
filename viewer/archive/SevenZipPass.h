// 7-Zip's library reading a solid archive in one pass: one Extract call
// over every readable item from a given one on, each item's bytes handed to
// the solid reader as the library finishes it. Silent: the pages opened
// later print their extraction texts.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "viewer/archive/MemoryFile.h"
#include "viewer/archive/PasswordCallback.h"
#include "viewer/archive/Passwords.h"
#include "viewer/archive/SevenZip.h"
#include "viewer/archive/SolidReader.h"

// Runs on the pass's thread; returns when the library is done, has failed,
// or the pass is stopping (the library is then told to abort). Encrypted
// items are decrypted with `password`, when there is one.
void RunSevenZipPass(IInArchive* archive, const ClaimedSizes& claimed, uint32_t first, SolidReader::Pass& pass,
                     const ArchivePassword& password = {});

// One item's bytes while the library writes them.
struct PassSink {
  ExtractedBytes bytes = std::make_shared<std::vector<BYTE>>();
  bool overflow = false;  // past kMaxExtractBytes, or out of memory: the rest is dropped
};

// Writes into a PassSink. Past the cap it keeps accepting (and dropping)
// bytes, so that the items after it still come; it aborts only when the
// pass is stopping.
class CPassOutStream final : public CUnknownImpl<IOutStream, ISequentialOutStream> {
 public:
  CPassOutStream(std::shared_ptr<PassSink> sink, const SolidReader::Pass& pass) : m_sink(std::move(sink)), m_pass(pass) {}
  HRESULT Write(const void* data, UInt32 size, UInt32* processed) override;
  HRESULT Seek(Int64, UInt32, UInt64*) override { return S_OK; }
  HRESULT SetSize(UInt64) override { return S_OK; }

 private:
  std::shared_ptr<PassSink> m_sink;
  const SolidReader::Pass& m_pass;
};

class CPassExtractCallback final : public CPasswordCallback<IArchiveExtractCallback, IProgress> {
 public:
  // `indices`: what the Extract call asks for, ascending.
  CPassExtractCallback(SolidReader::Pass& pass, const ClaimedSizes& claimed, std::vector<UInt32> indices,
                       ArchivePassword password = {})
      : CPasswordCallback(std::move(password)), m_pass(pass), m_claimed(claimed), m_indices(std::move(indices)) {}
  HRESULT SetTotal(UInt64) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*) override { return m_pass.Stopping() ? E_ABORT : S_OK; }
  HRESULT GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) override;
  HRESULT PrepareOperation(Int32) override { return S_OK; }
  HRESULT SetOperationResult(Int32 result) override;

  const std::vector<UInt32>& indices() const { return m_indices; }
  // The items asked for that the library never gave a stream, up to
  // position `end` of indices(): empty files, as a one-item extraction
  // makes them. False when the pass is stopping.
  bool DeliverUnasked(std::size_t end);

 private:
  SolidReader::Pass& m_pass;
  const ClaimedSizes& m_claimed;
  std::vector<UInt32> m_indices;
  std::size_t m_next = 0;            // the first of m_indices not asked for yet
  std::optional<UInt32> m_current;   // the item being written
  std::shared_ptr<PassSink> m_sink;
};
